#include "scanbytes.h"
#include "volume.h"
#include "volumefile.h"
#include "volumeseries.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <sstream>

namespace {

constexpr int frames = 3;
const std::array<std::int64_t, 4> dims = {{4, 3, 2, 2}}; // dim[0] = 4, then 3 x 2 x 2

// Sample i of frame f: distinct in every voxel and frame, so that a wrong
// frame, voxel or byte order shows.
std::int16_t sampleOf(int frame, int i)
{
    return std::int16_t(frame * 1000 + i * 37 - 200);
}

// A 3 x 2 x 2 x frames NIfTI-1 file of int16 samples, 1.5 s apart, in RAS
// order (so that shown X and Y run against the stored ones).
QByteArray seriesFile(bool bigEndian, int dim5 = 1)
{
    NiftiFields fields;
    fields.dim = dims;
    fields.sformCode = 1;
    fields.bigEndian = bigEndian;
    QByteArray samples;
    for (int frame = 0; frame < frames; ++frame)
        for (int i = 0; i < 12; ++i) {
            QByteArray sample(2, '\0');
            put<std::int16_t>(sample, 0, sampleOf(frame, i), bigEndian);
            samples += sample;
        }
    QByteArray bytes = nifti1(fields, samples);
    put<std::int16_t>(bytes, 40, std::int16_t(dim5 > 1 ? 5 : 4), bigEndian);
    put<std::int16_t>(bytes, 48, std::int16_t(frames), bigEndian);
    put<std::int16_t>(bytes, 50, std::int16_t(dim5), bigEndian);
    put<std::int16_t>(bytes, 70, 4, bigEndian); // int16
    put<std::int16_t>(bytes, 72, 16, bigEndian);
    put<float>(bytes, 92, 1.5f, bigEndian); // pixdim[4]
    bytes[123] = char(2 | 8);               // mm and seconds
    return bytes;
}

VolumeReadResult load(const QString &path, Volume &volume, std::uint64_t maxDataBytes,
                      std::string *errors = nullptr)
{
    std::ostringstream out, err;
    VolumeReadOptions options;
    options.maxDataBytes = maxDataBytes;
    const VolumeReadResult result = readVolumeFile(path.toStdString(), volume, out, err, options);
    if (errors)
        *errors = err.str();
    return result;
}

} // namespace

class TestVolumeSeries : public QObject
{
    Q_OBJECT

private slots:
    void framesInMemoryAndMappedAgree_data();
    void framesInMemoryAndMappedAgree();
    void colourFramesKeepTheirColours();
    void refusals();
    void nrrdTimeAxisIsPlacedAsItkPlacesMetaImage();
};

void TestVolumeSeries::framesInMemoryAndMappedAgree_data()
{
    QTest::addColumn<bool>("bigEndian");
    QTest::newRow("little-endian") << false;
    QTest::newRow("big-endian") << true;
}

// Every frame shows the file's samples of that frame, normalised by the range
// of the whole series, whether the series is held in memory or mapped.
void TestVolumeSeries::framesInMemoryAndMappedAgree()
{
    QFETCH(bool, bigEndian);
    QTemporaryDir dir;
    const QString path = dir.filePath("series.nii");
    QVERIFY(writeFile(path, seriesFile(bigEndian)));

    Volume held, mapped;
    QVERIFY(load(path, held, UINT64_MAX).ok);
    // Room for one frame's samples and floats, not for all three frames.
    std::string errors;
    QVERIFY(load(path, mapped, 12 * (2 + 4) + 12 * 2, &errors).ok);
    QVERIFY(held.series && mapped.series);
    QVERIFY(!held.series->isMapped());
    QVERIFY(mapped.series->isMapped());
    QVERIFY2(errors.find("one volume at a time") != std::string::npos, errors.c_str());
    QCOMPARE(held.series->frameCount(), frames);
    QCOMPARE(held.series->frameInterval(), 1.5);
    QCOMPARE(held.series->frameUnit(), std::string("s"));

    const double low = sampleOf(0, 0), high = sampleOf(frames - 1, 11);
    for (int frame = 0; frame < frames; ++frame) {
        std::string reason;
        QVERIFY(selectSeriesFrame(held, frame, reason));
        QVERIFY(selectSeriesFrame(mapped, frame, reason));
        QCOMPARE(held.frame, frame);
        QCOMPARE(held.valueRange.minimum, low);
        QCOMPARE(held.valueRange.maximum, high);
        QVERIFY(held.data == mapped.data);
        for (int i = 0; i < 12; ++i) {
            const int x = 2 - i % 3, y = 1 - i / 3 % 2, z = i / 6;
            const float expected = float((sampleOf(frame, i) - low) / (high - low));
            QVERIFY(std::abs(held.data[std::size_t(x + 3 * (y + 2 * z))] - expected) < 1e-6f);
        }
    }
    const std::vector<double> course = mapped.series->timeCourse(0, 1, 1);
    QCOMPARE(course, held.series->timeCourse(0, 1, 1));
    QCOMPARE(course.size(), std::size_t(frames));
    for (int frame = 0; frame < frames; ++frame)
        QCOMPARE(course[std::size_t(frame)], double(sampleOf(frame, 2 + 0 + 6)));
    QVERIFY(held.series->timeCourse(3, 0, 0).empty());

    std::string reason;
    QVERIFY(!selectSeriesFrame(held, frames, reason));
    QVERIFY2(reason.find("holds 3 volumes") != std::string::npos, reason.c_str());
}

// An RGB series: each frame shows its own colours, its luminance normalised by
// that of the whole series; the time course gives the luminance.
void TestVolumeSeries::colourFramesKeepTheirColours()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("colour.nii");
    const auto component = [](int frame, int i, int c) {
        return std::uint8_t((frame * 70 + i * 13 + c * 90) % 256);
    };
    QByteArray samples;
    for (int frame = 0; frame < frames; ++frame)
        for (int i = 0; i < 12; ++i)
            for (int c = 0; c < 3; ++c)
                samples += char(component(frame, i, c));
    NiftiFields fields;
    fields.dim = dims;
    fields.sformCode = 1;
    QByteArray bytes = nifti1(fields, samples);
    put<std::int16_t>(bytes, 48, std::int16_t(frames), false);
    put<std::int16_t>(bytes, 70, 128, false); // RGB24
    put<std::int16_t>(bytes, 72, 24, false);
    QVERIFY(writeFile(path, bytes));

    Volume volume;
    QVERIFY(load(path, volume, UINT64_MAX).ok);
    QCOMPARE(seriesFrameCount(volume), frames);
    const auto light = [&](int frame, int i) {
        return 0.299 * component(frame, i, 0) + 0.587 * component(frame, i, 1) +
               0.114 * component(frame, i, 2);
    };
    double low = 1e9, high = -1e9;
    for (int frame = 0; frame < frames; ++frame)
        for (int i = 0; i < 12; ++i) {
            low = std::min(low, double(float(light(frame, i))));
            high = std::max(high, double(float(light(frame, i))));
        }
    for (int frame = 0; frame < frames; ++frame) {
        std::string reason;
        QVERIFY(selectSeriesFrame(volume, frame, reason));
        QVERIFY(volume.colours);
        for (int i = 0; i < 12; ++i) {
            // Stored in RAS order: shown X and Y run the other way.
            const int x = 2 - i % 3, y = 1 - i / 3 % 2, z = i / 6;
            const std::size_t shown = std::size_t(x + 3 * (y + 2 * z));
            for (int c = 0; c < 3; ++c)
                QCOMPARE(volume.colours->values[3 * shown + std::size_t(c)],
                         float(component(frame, i, c)));
            QVERIFY(std::abs(volume.data[shown] - float((light(frame, i) - low) / (high - low))) <
                    1e-5f);
        }
    }
    const std::vector<double> course = volume.series->timeCourse(1, 0, 1);
    QCOMPARE(course.size(), std::size_t(frames));
    for (int frame = 0; frame < frames; ++frame)
        QVERIFY(std::abs(course[std::size_t(frame)] - light(frame, 1 + 3 + 6)) < 1e-9);
}

void TestVolumeSeries::refusals()
{
    QTemporaryDir dir;
    // Values per voxel beyond time are no series.
    const QString vectors = dir.filePath("vectors.nii");
    QVERIFY(writeFile(vectors, seriesFile(false, 3)));
    Volume volume;
    VolumeReadResult read = load(vectors, volume, UINT64_MAX);
    QVERIFY(!read.ok);
    QVERIFY2(read.reason.find("values per voxel") != std::string::npos, read.reason.c_str());

    // A compressed series beyond memory cannot be mapped.
    const QString compressed = dir.filePath("series.nii.gz");
    QVERIFY(writeFile(dir.filePath("plain.nii"), seriesFile(false)));
    QVERIFY(QProcess::execute("gzip", {"-kf", dir.filePath("plain.nii")}) == 0);
    QVERIFY(QFile::rename(dir.filePath("plain.nii.gz"), compressed));
    read = load(compressed, volume, 12 * (2 + 4) + 12 * 2);
    QVERIFY(!read.ok);
    QVERIFY2(read.reason.find("uncompress it first") != std::string::npos, read.reason.c_str());
    QVERIFY(load(compressed, volume, UINT64_MAX).ok);
    QCOMPARE(seriesFrameCount(volume), frames);

    // A 3D image has frame 0 only.
    const QString single = dir.filePath("single.nii");
    QVERIFY(writeFile(single, nifti1(NiftiFields(), QByteArray(8, '\x05'))));
    QVERIFY(load(single, volume, UINT64_MAX).ok);
    std::string reason;
    QVERIFY(selectSeriesFrame(volume, 0, reason));
    QVERIFY(!selectSeriesFrame(volume, 1, reason));
    QVERIFY2(reason.find("holds one volume") != std::string::npos, reason.c_str());
}

// ITK refuses an NRRD series whose space has three axes and a fourth that is
// time; our own placement must be ITK's for the same grid as a MetaImage.
void TestVolumeSeries::nrrdTimeAxisIsPlacedAsItkPlacesMetaImage()
{
    QTemporaryDir dir;
    QByteArray samples;
    for (int i = 0; i < 2 * 3 * 4 * 2; ++i)
        samples.append(char(i * 5));
    const QString nrrd = dir.filePath("series.nrrd"), mha = dir.filePath("series.mha");
    QVERIFY(writeFile(nrrd, "NRRD0004\ntype: uint8\ndimension: 4\nsizes: 2 3 4 2\n"
                            "space: right-anterior-superior\n"
                            "space directions: (0,1.5,0) (-2,0,0) (0,0,3) none\n"
                            "kinds: domain domain domain time\nspacings: nan nan nan 0.5\n"
                            "space origin: (1,2,3)\nencoding: raw\n\n" +
                                samples));
    // The same grid in LPS: RAS x and y turned round.
    QVERIFY(writeFile(mha, "ObjectType = Image\nNDims = 4\nBinaryData = True\n"
                           "TransformMatrix = 0 -1 0 0 1 0 0 0 0 0 1 0 0 0 0 1\n"
                           "Offset = -1 -2 3 0\nElementSpacing = 1.5 2 3 0.5\n"
                           "DimSize = 2 3 4 2\nElementType = MET_UCHAR\n"
                           "ElementDataFile = LOCAL\n" +
                               samples));
    Volume fromNrrd, fromMha;
    QVERIFY(load(nrrd, fromNrrd, UINT64_MAX).ok);
    QVERIFY(load(mha, fromMha, UINT64_MAX).ok);
    QCOMPARE(seriesFrameCount(fromNrrd), 2);
    QCOMPARE(fromNrrd.series->frameInterval(), 0.5);
    QCOMPARE(fromNrrd.worldOrigin, fromMha.worldOrigin);
    QCOMPARE(fromNrrd.worldDirection, fromMha.worldDirection);
    QCOMPARE(fromNrrd.spacing, fromMha.spacing);
    std::string reason;
    QVERIFY(selectSeriesFrame(fromNrrd, 1, reason) && selectSeriesFrame(fromMha, 1, reason));
    QVERIFY(fromNrrd.data == fromMha.data);
}

QTEST_GUILESS_MAIN(TestVolumeSeries)
#include "tst_volumeseries.moc"
