#include "labeltable.h"

#include "filereason.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringView>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

const auto byValue = [](const Label &label, int value) { return label.value < value; };

} // namespace

const Label *LabelTable::find(int value) const
{
    const auto it = std::lower_bound(entries.begin(), entries.end(), value, byValue);
    return it != entries.end() && it->value == value ? &*it : nullptr;
}

Label *LabelTable::find(int value)
{
    return const_cast<Label *>(std::as_const(*this).find(value));
}

void LabelTable::addMissing(const std::vector<int> &values)
{
    std::vector<int> missing;
    for (int value : values)
        if (!find(value))
            missing.push_back(value);
    std::sort(missing.begin(), missing.end());
    missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
    for (int value : missing)
        entries.push_back({value, QString(), generatedLabelColour(value), value != 0});
    normalise();
}

void LabelTable::normalise()
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Label &a, const Label &b) { return a.value < b.value; });
    std::vector<Label> kept;
    kept.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (i + 1 == entries.size() || entries[i + 1].value != entries[i].value)
            kept.push_back(std::move(entries[i]));
    entries = std::move(kept);
}

QColor generatedLabelColour(int value)
{
    // Steps of the golden ratio around the hue circle put neighbouring values
    // about 0.38 of a turn apart and never repeat a hue exactly.
    constexpr double goldenRatioStep = 0.6180339887498949;
    const double turns = double(value) * goldenRatioStep;
    const double hue = std::clamp(turns - std::floor(turns), 0.0, 1.0);
    // Eight bits a channel, as label tables and scene files hold colours, so
    // that a generated colour comes back from a file unchanged.
    const QColor colour = QColor::fromHsvF(float(hue), 0.7f, 0.95f);
    return QColor(colour.red(), colour.green(), colour.blue());
}

namespace LabelTables {

namespace {

enum class Form
{
    None,
    ItkSnap,
    ColourTable, // FreeSurfer's or Slicer's, told apart by the file name
    Plain,
};

QString formDescription(Form form)
{
    switch (form) {
    case Form::ItkSnap:
        return "an ITK-SNAP label line (IDX R G B A VIS MSH \"LABEL\")";
    case Form::ColourTable:
        return "a colour-table line (index name R G B A)";
    case Form::Plain:
        return "a line of a value and a name";
    case Form::None:
        break;
    }
    return "not a label line";
}

struct Token
{
    qsizetype start = 0;
    qsizetype length = 0;
};

QList<Token> tokensOf(QStringView text)
{
    QList<Token> tokens;
    qsizetype i = 0;
    while (i < text.size()) {
        while (i < text.size() && text.at(i).isSpace())
            ++i;
        const qsizetype start = i;
        while (i < text.size() && !text.at(i).isSpace())
            ++i;
        if (i > start)
            tokens.append({start, i - start});
    }
    return tokens;
}

// One line of a table with its whitespace-separated words, and for ITK-SNAP
// the quoted name after the seventh word.
struct Line
{
    QString text;
    QList<Token> words;
    qsizetype quote = -1; // where the ITK-SNAP name's opening quote is

    QStringView word(qsizetype i) const
    {
        return QStringView(text).mid(words.at(i).start, words.at(i).length);
    }
};

bool isNumber(QStringView word)
{
    bool ok = false;
    (void)word.toDouble(&ok);
    return ok;
}

// The form a line has by its shape alone; its values may still be wrong.
Form formOf(Line *line)
{
    const qsizetype quote = line->text.indexOf('"');
    if (quote >= 0) {
        const QList<Token> before = tokensOf(QStringView(line->text).left(quote));
        bool numbers = before.size() == 7;
        for (const Token &t : before)
            numbers = numbers && isNumber(QStringView(line->text).mid(t.start, t.length));
        if (numbers) {
            line->words = before;
            line->quote = quote;
            return Form::ItkSnap;
        }
    }
    line->words = tokensOf(line->text);
    const auto numbersAt = [&](std::initializer_list<int> indices) {
        for (int i : indices)
            if (!isNumber(line->word(i)))
                return false;
        return true;
    };
    if (line->words.size() == 6 && numbersAt({0, 2, 3, 4, 5}))
        return Form::ColourTable;
    if (line->words.size() >= 2 && numbersAt({0}))
        return Form::Plain;
    return Form::None;
}

// Why a line has no form.
QString whyNoForm(const Line &line)
{
    if (!isNumber(line.word(0)))
        return QString("\"%1\" is not a label value (a whole number)").arg(line.word(0));
    return "a label value without a name";
}

bool wholeNumber(QStringView word, int low, int high, const QString &what, int *number,
                 QString *reason)
{
    bool ok = false;
    const qlonglong value = word.toLongLong(&ok);
    if (!ok) {
        *reason = QString("%1 \"%2\" is not a whole number").arg(what, word);
        return false;
    }
    if (value < low || value > high) {
        *reason = QString("%1 %2 is outside %3..%4").arg(what).arg(value).arg(low).arg(high);
        return false;
    }
    *number = int(value);
    return true;
}

bool readColour(const Line &line, int first, QColor *colour, QString *reason)
{
    const char *const channels[] = {"red", "green", "blue"};
    int rgb[3] = {};
    for (int c = 0; c < 3; ++c)
        if (!wholeNumber(line.word(first + c), 0, 255, channels[c], &rgb[c], reason))
            return false;
    *colour = QColor(rgb[0], rgb[1], rgb[2]);
    return true;
}

std::optional<Label> readItkSnap(const Line &line, QString *reason)
{
    Label label;
    if (!wholeNumber(line.word(0), 0, maximumValue, "value", &label.value, reason) ||
        !readColour(line, 1, &label.colour, reason))
        return std::nullopt;
    const double opacity = line.word(4).toDouble();
    if (!(opacity >= 0.0 && opacity <= 1.0)) {
        *reason = QString("opacity %1 is outside 0..1").arg(line.word(4));
        return std::nullopt;
    }
    label.colour.setAlpha(int(std::lround(opacity * 255.0)));
    int visible = 0, mesh = 0;
    if (!wholeNumber(line.word(5), 0, 1, "visibility", &visible, reason) ||
        !wholeNumber(line.word(6), 0, 1, "mesh visibility", &mesh, reason))
        return std::nullopt;
    label.visible = visible == 1;
    const QStringView quoted = QStringView(line.text).mid(line.quote).trimmed();
    if (quoted.size() < 2 || !quoted.endsWith('"')) {
        *reason = "the label's name lacks its closing quote";
        return std::nullopt;
    }
    label.name = quoted.mid(1, quoted.size() - 2).toString();
    return label;
}

std::optional<Label> readColourTable(const Line &line, bool slicer, QString *reason)
{
    Label label;
    int alpha = 0;
    if (!wholeNumber(line.word(0), 0, maximumValue, "value", &label.value, reason) ||
        !readColour(line, 2, &label.colour, reason) ||
        !wholeNumber(line.word(5), 0, 255, "alpha", &alpha, reason))
        return std::nullopt;
    // FreeSurfer's tables hold transparency, 0 for opaque.
    label.colour.setAlpha(slicer ? alpha : 255 - alpha);
    label.name = line.word(1).toString();
    return label;
}

std::optional<Label> readPlain(const Line &line, QString *reason)
{
    Label label;
    if (!wholeNumber(line.word(0), 0, maximumValue, "value", &label.value, reason))
        return std::nullopt;
    label.name = QStringView(line.text).mid(line.words.at(1).start).trimmed().toString();
    label.colour = generatedLabelColour(label.value);
    // A list of names says nothing of colour: its background stays unseen.
    label.visible = label.value != 0;
    return label;
}

ReadResult failure(const QString &fileName, const QString &reason)
{
    ReadResult result;
    result.reason = fileReason(fileName, "label table", reason);
    return result;
}

ReadResult failureAtLine(const QString &fileName, int line, const QString &reason)
{
    ReadResult result;
    result.reason = lineReason(fileName, "label table", line, reason);
    return result;
}

} // namespace

ReadResult parse(const QByteArray &bytes, const QString &fileName)
{
    if (bytes.size() > maximumFileBytes)
        return failure(fileName,
                       QString("larger than %1 MiB").arg(maximumFileBytes / (1024 * 1024)));
    const bool slicer = fileName.endsWith(".ctbl", Qt::CaseInsensitive);
    ReadResult result;
    Form form = Form::None;
    int formLine = 0;
    qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (int number = 1; start <= bytes.size(); ++number) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        Line line;
        line.text = QString::fromUtf8(bytes.constData() + start, end - start);
        start = end + 1;
        const QStringView trimmed = QStringView(line.text).trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;

        const Form lineForm = formOf(&line);
        if (lineForm == Form::None)
            return failureAtLine(fileName, number, whyNoForm(line));
        if (form == Form::None) {
            form = lineForm;
            formLine = number;
        } else if (lineForm != form) {
            return failureAtLine(fileName, number,
                                 QString("%1, but line %2 is %3")
                                     .arg(formDescription(lineForm))
                                     .arg(formLine)
                                     .arg(formDescription(form)));
        }
        QString reason;
        std::optional<Label> label;
        switch (form) {
        case Form::ItkSnap:
            label = readItkSnap(line, &reason);
            break;
        case Form::ColourTable:
            label = readColourTable(line, slicer, &reason);
            break;
        case Form::Plain:
            label = readPlain(line, &reason);
            break;
        case Form::None:
            break;
        }
        if (!label)
            return failureAtLine(fileName, number, reason);
        result.table.labels().push_back(std::move(*label));
    }
    if (result.table.labels().empty())
        return failure(fileName, "holds no labels");
    result.table.normalise();
    result.ok = true;
    return result;
}

ReadResult readFile(const QString &fileName)
{
    QByteArray bytes;
    QString reason;
    if (!readSmallFile(fileName, maximumFileBytes, &bytes, &reason))
        return failure(fileName, reason);
    return parse(bytes, fileName);
}

} // namespace LabelTables
