#include "imagestack.h"

#include "scanfileaccess.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

const char *const imageSuffixes[] = {".tif", ".tiff", ".png", ".jpg", ".jpeg", ".bmp"};

std::string lowerSuffix(const std::filesystem::path &path)
{
    std::string suffix = path.extension().string();
    for (char &c : suffix)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return suffix == ".tiff" ? ".tif" : suffix == ".jpeg" ? ".jpg" : suffix;
}

bool isImageSuffix(const std::string &suffix)
{
    return std::any_of(std::begin(imageSuffixes), std::end(imageSuffixes),
                       [&](const char *known) { return suffix == known; });
}

bool isDicomFile(const std::string &path)
{
    unsigned char bytes[132] = {};
    const FileBytesRead read = readFileBytes(path, 0, bytes, sizeof bytes);
    return read.ok && read.read == sizeof bytes && std::memcmp(bytes + 128, "DICM", 4) == 0;
}

// Compares names as a person numbers them: "slice2" before "slice10".
bool naturalLess(const std::string &a, const std::string &b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            const std::size_t za = na.find_first_not_of('0'), zb = nb.find_first_not_of('0');
            const std::string ta = za == std::string::npos ? "" : na.substr(za);
            const std::string tb = zb == std::string::npos ? "" : nb.substr(zb);
            if (ta.size() != tb.size())
                return ta.size() < tb.size();
            if (ta != tb)
                return ta < tb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::filesystem::path> imageFilesOf(const std::string &folder)
{
    std::vector<std::filesystem::path> images;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error))
        if (pathKind(entry->path().string()) == PathKind::File &&
            isImageSuffix(lowerSuffix(entry->path())))
            images.push_back(entry->path());
    return images;
}

} // namespace

bool isImageStackPattern(const std::string &path)
{
    // One printf field for the number: "%d", "%4d" or "%04d", and no other
    // '%' anywhere in the path, which is handed to snprintf as its format.
    const std::string &name = path;
    int fields = 0;
    for (std::size_t at = name.find('%'); at != std::string::npos; at = name.find('%', at + 1)) {
        std::size_t end = at + 1;
        while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])))
            ++end;
        if (end >= name.size() || name[end] != 'd')
            return false;
        ++fields;
    }
    return fields == 1 && isImageSuffix(lowerSuffix(std::filesystem::path(path)));
}

bool folderHoldsImageStack(const std::string &folder)
{
    if (imageFilesOf(folder).empty())
        return false;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error))
        if (pathKind(entry->path().string()) == PathKind::File &&
            isDicomFile(entry->path().string()))
            return false;
    return true;
}

ImageStackFiles listImageStack(const std::string &folderOrPattern)
{
    ImageStackFiles stack;
    if (isImageStackPattern(folderOrPattern)) {
        char name[4096];
        for (int first : {0, 1}) {
            for (int index = first; index < 65536; ++index) {
                std::snprintf(name, sizeof name, folderOrPattern.c_str(), index);
                if (pathKind(name) != PathKind::File)
                    break;
                stack.files.push_back(name);
            }
            if (!stack.files.empty())
                break;
        }
        if (stack.files.empty())
            stack.reason =
                "No file matches the pattern '" + folderOrPattern + "' from number 0 or 1 on.";
        return stack;
    }
    std::vector<std::filesystem::path> images = imageFilesOf(folderOrPattern);
    if (images.empty()) {
        stack.reason = "The folder holds no TIFF, PNG, JPEG or BMP images.";
        return stack;
    }
    // One kind of image: the most common suffix; the others are told.
    std::map<std::string, int> counts;
    for (const auto &image : images)
        ++counts[lowerSuffix(image)];
    const auto kind = std::max_element(counts.begin(), counts.end(), [](auto &a, auto &b) {
                          return a.second < b.second;
                      })->first;
    const std::size_t others = images.size() - std::size_t(counts[kind]);
    if (others > 0)
        stack.notes.push_back(std::to_string(others) + " images of another kind than " + kind +
                              " in the folder were left out.");
    for (const auto &image : images)
        if (lowerSuffix(image) == kind)
            stack.files.push_back(image.string());
    std::sort(stack.files.begin(), stack.files.end(),
              [](const std::string &a, const std::string &b) {
                  return naturalLess(std::filesystem::path(a).filename().string(),
                                     std::filesystem::path(b).filename().string());
              });
    return stack;
}
