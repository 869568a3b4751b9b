// The manual (docs/index.html) against the program's sources: every window title the program can
// show has a section whose heading names it, every setting key the program reads or writes is
// described, and every picture the manual shows is there. The titles and keys are collected from
// the forms and the sources, so a new window or key without its section fails here.
#include "TestPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QXmlStreamReader>

namespace {
const QStringList sourceFolders = {QStringLiteral("app"), QStringLiteral("dialogs"), QStringLiteral("profiles"),
    QStringLiteral("scripting"), QStringLiteral("device"), QStringLiteral("controller")};

QString sourcePath(const QString& relative)
{
    return QDir(QString::fromUtf8(TestPaths::sourceDir)).filePath(relative);
}

QString readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QStringList filesIn(const QString& folder, const QStringList& patterns)
{
    QStringList files;
    QDirIterator it(sourcePath(folder), patterns, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}

// The windowTitle of a form's top widget.
QString formTitle(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QXmlStreamReader xml(&file);
    int widgetDepth = 0;
    bool inTitle = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("widget"))
                ++widgetDepth;
            else if (widgetDepth == 1 && xml.name() == QLatin1String("property")
                && xml.attributes().value(QLatin1String("name")) == QLatin1String("windowTitle"))
                inTitle = true;
            else if (inTitle && xml.name() == QLatin1String("string"))
                return xml.readElementText().trimmed();
        } else if (xml.isEndElement()) {
            if (xml.name() == QLatin1String("widget"))
                --widgetDepth;
            else if (xml.name() == QLatin1String("property"))
                inTitle = false;
        }
    }
    return QString();
}

// A title without a trailing remark in parentheses: "Supplies, Temperature and Limits (not
// available)" is the same window as "Supplies, Temperature and Limits".
QString withoutRemark(QString title)
{
    static const QRegularExpression remark(QStringLiteral("\\s*\\([^)]*\\)$"));
    return title.remove(remark).trimmed();
}

// Every title of a form and every fixed title a source sets; titles made of parts ("%1: Channel
// %2 ...") belong to a window whose form title is collected already.
QStringList windowTitles()
{
    QSet<QString> titles;
    for (const QString& folder : sourceFolders) {
        for (const QString& form : filesIn(folder, {QStringLiteral("*.ui")})) {
            const QString title = formTitle(form);
            if (!title.isEmpty())
                titles.insert(withoutRemark(title));
        }
        static const QRegularExpression setTitle(QStringLiteral("setWindowTitle\\((?:[^;]*?)tr\\(\"([^\"]+)\"\\)"));
        for (const QString& source : filesIn(folder, {QStringLiteral("*.cpp")})) {
            const QString text = readAll(source);
            for (const QRegularExpressionMatch& match : setTitle.globalMatch(text)) {
                const QString title = match.captured(1);
                if (!title.contains(QLatin1Char('%')))
                    titles.insert(withoutRemark(title));
            }
        }
    }
    QStringList sorted = titles.values();
    sorted.sort();
    return sorted;
}

// Setting keys named in the sources: value("Key") / setValue("Key") and constants ending in Key.
QStringList settingKeys()
{
    static const QRegularExpression keyUse(
        QStringLiteral("(?:value|setValue|contains|remove)\\(QStringLiteral\\(\"([A-Za-z][A-Za-z/ ]*)\"\\)"));
    static const QRegularExpression keyConstant(QStringLiteral("[Kk]ey\\w* = QStringLiteral\\(\"([A-Za-z][A-Za-z/]*)\"\\)"));
    QSet<QString> keys;
    for (const QString& folder : sourceFolders) {
        for (const QString& source : filesIn(folder, {QStringLiteral("*.cpp")})) {
            const QString text = readAll(source);
            for (const QRegularExpression* pattern : {&keyUse, &keyConstant}) {
                for (const QRegularExpressionMatch& match : pattern->globalMatch(text))
                    keys.insert(match.captured(1));
            }
        }
    }
    QStringList sorted = keys.values();
    sorted.sort();
    return sorted;
}

QString plainText(QString html)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    static const QRegularExpression space(QStringLiteral("\\s+"));
    html.remove(tag);
    html.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    html.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    return html.replace(space, QStringLiteral(" ")).trimmed();
}

QString manual()
{
    return readAll(sourcePath(QStringLiteral("docs/index.html")));
}

// The text of every h1 to h3 heading of the manual.
QStringList headings()
{
    static const QRegularExpression heading(
        QStringLiteral("<h([1-3])[^>]*>(.*?)</h\\1>"), QRegularExpression::DotMatchesEverythingOption);
    QStringList found;
    const QString html = manual();
    for (const QRegularExpressionMatch& match : heading.globalMatch(html))
        found.append(plainText(match.captured(2)));
    return found;
}
} // namespace

class ManualTest : public QObject
{
    Q_OBJECT

private slots:
    void sourcesAreFound();
    void everyWindowHasItsSection_data();
    void everyWindowHasItsSection();
    void everySettingKeyIsDescribed_data();
    void everySettingKeyIsDescribed();
    void everyPictureIsThere();
};

void ManualTest::sourcesAreFound()
{
    // Without these the checks below would pass on nothing.
    QVERIFY2(!manual().isEmpty(), "docs/index.html not found");
    const QStringList titles = windowTitles();
    for (const char* expected : {"System Overview", "Crates", "Trends", "Journal", "Supplies, Temperature and Limits"})
        QVERIFY2(titles.contains(QLatin1String(expected)), expected);
    QVERIFY(settingKeys().contains(QStringLiteral("IpAddress")));
    QVERIFY(headings().size() > 20);
}

void ManualTest::everyWindowHasItsSection_data()
{
    QTest::addColumn<QString>("title");
    for (const QString& title : windowTitles())
        QTest::newRow(qPrintable(title)) << title;
}

void ManualTest::everyWindowHasItsSection()
{
    QFETCH(QString, title);
    const QStringList all = headings();
    const bool found = std::any_of(all.begin(), all.end(), [&](const QString& h) { return h.contains(title); });
    QVERIFY2(found, qPrintable(QStringLiteral("no heading of docs/index.html names the window \"%1\"").arg(title)));
}

void ManualTest::everySettingKeyIsDescribed_data()
{
    QTest::addColumn<QString>("key");
    for (const QString& key : settingKeys())
        QTest::newRow(qPrintable(key)) << key;
}

void ManualTest::everySettingKeyIsDescribed()
{
    QFETCH(QString, key);
    // A group whose keys the code puts together ("Archive/" + name) is described as its group.
    if (key.endsWith(QLatin1Char('/'))) {
        const QString group = QStringLiteral("<code>[%1]</code>").arg(key.chopped(1));
        QVERIFY2(manual().contains(group),
            qPrintable(QStringLiteral("the settings group \"%1\" is not described in docs/index.html").arg(key)));
        return;
    }
    QVERIFY2(manual().contains(QStringLiteral("<code>%1</code>").arg(key)),
        qPrintable(QStringLiteral("the setting \"%1\" is not described in docs/index.html").arg(key)));
}

void ManualTest::everyPictureIsThere()
{
    static const QRegularExpression image(QStringLiteral("<img[^>]*src=\"([^\"]+)\""));
    const QDir docs(sourcePath(QStringLiteral("docs")));
    QSet<QString> shown;
    for (const QRegularExpressionMatch& match : image.globalMatch(manual())) {
        const QString file = match.captured(1);
        shown.insert(file);
        QVERIFY2(docs.exists(file), qPrintable(QStringLiteral("docs/%1 is shown in the manual but missing").arg(file)));
    }
    // A picture nobody shows would only be installed and renewed for nothing.
    for (const QString& file : docs.entryList({QStringLiteral("*.png")}, QDir::Files))
        QVERIFY2(shown.contains(file), qPrintable(QStringLiteral("docs/%1 is not shown in the manual").arg(file)));
}

QTEST_GUILESS_MAIN(ManualTest)
#include "ManualTest.moc"
