// The executable's Windows resources: icon, version record and manifest.

#include "Version.h"

#include <QtTest>
#include <QXmlStreamReader>

namespace {

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

template <typename T>
T Le(const QByteArray &b, qsizetype at)
{
    if (at < 0 || at + qsizetype(sizeof(T)) > b.size())
        return T {};
    return qFromLittleEndian<T>(b.sliced(at, sizeof(T)).constData());
}

QByteArray Utf16(const char *text)
{
    const QString s = QString::fromLatin1(text);
    return QByteArray(reinterpret_cast<const char *>(s.utf16()), s.size() * 2);
}

struct Resource {
    int type = -1;
    int name = -1;
    int language = -1;
    QByteArray data;
};

// A compiled .res file: a header per resource, then its data.
QList<Resource> ParseRes(const QByteArray &res)
{
    QList<Resource> out;
    qsizetype at = 0;
    auto id = [&](qsizetype &p) {
        if (Le<quint16>(res, p) == 0xFFFF) {
            const int v = Le<quint16>(res, p + 2);
            p += 4;
            return v;
        }
        while (Le<quint16>(res, p) != 0)
            p += 2;
        p += 2;
        return -2; // named by a string
    };
    while (at + 8 <= res.size()) {
        const quint32 dataSize = Le<quint32>(res, at);
        const quint32 headerSize = Le<quint32>(res, at + 4);
        qsizetype p = at + 8;
        Resource r;
        r.type = id(p);
        r.name = id(p);
        p = (p + 3) & ~qsizetype(3);
        r.language = Le<quint16>(res, p + 6);
        r.data = res.mid(at + headerSize, dataSize);
        if (dataSize > 0 || r.type != 0)
            out.append(r);
        at = (at + headerSize + dataSize + 3) & ~qsizetype(3);
    }
    return out;
}

constexpr int kRtIcon = 3;
constexpr int kRtGroupIcon = 14;
constexpr int kRtVersion = 16;
constexpr int kRtManifest = 24;
constexpr int kEnglishUs = 0x0409;

} // namespace

class TestResources : public QObject {
    Q_OBJECT
private slots:
    void iconHasSevenUncompressedImages()
    {
        const QByteArray ico = ReadFile(QStringLiteral(VARDELO_SOURCE_DIR "/resources/vardelolink.ico"));
        QVERIFY(ico.size() > 6);
        QCOMPARE(Le<quint16>(ico, 2), 1); // icon
        QCOMPARE(Le<quint16>(ico, 4), 7);
        QList<QPair<int, int>> found;
        for (int i = 0; i < 7; ++i) {
            const qsizetype e = 6 + 16 * i;
            const int width = quint8(ico[e]) == 0 ? 256 : quint8(ico[e]);
            const int bpp = Le<quint16>(ico, e + 6);
            const quint32 size = Le<quint32>(ico, e + 8);
            const quint32 offset = Le<quint32>(ico, e + 12);
            QVERIFY(offset + size <= quint32(ico.size()));
            const QByteArray image = ico.mid(offset, size);
            QVERIFY2(!image.startsWith("\x89PNG"), "images must be uncompressed bitmaps");
            QCOMPARE(Le<quint32>(image, 0), 40u);           // BITMAPINFOHEADER
            QCOMPARE(Le<qint32>(image, 4), width);          // width
            QCOMPARE(Le<qint32>(image, 8), 2 * width);      // colour + mask rows
            QCOMPARE(int(Le<quint16>(image, 14)), bpp);     // bit count agrees
            QCOMPARE(Le<quint32>(image, 16), 0u);           // BI_RGB
            found.append({width, bpp});
        }
        std::sort(found.begin(), found.end());
        const QList<QPair<int, int>> expected = {{16, 8}, {16, 32}, {32, 8}, {32, 32}, {48, 8}, {48, 32}, {256, 32}};
        QCOMPARE(found, expected);
    }

    void manifestDeclaresIdentityAndSettings()
    {
        const QByteArray xml = ReadFile(QStringLiteral(VARDELO_GENERATED_DIR "/vardelolink.manifest"));
        QXmlStreamReader r(xml);
        QStringList supported;
        QMap<QString, QString> seen;
        bool commonControls = false;
        while (!r.atEnd()) {
            if (r.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto a = r.attributes();
            const QString n = r.name().toString();
            if (n == "assemblyIdentity" && a.value("name") == QLatin1String("VardeloLinkWin")) {
                QCOMPARE(a.value("version").toString(), QStringLiteral(VARDELO_VERSION_TEXT));
                QCOMPARE(a.value("type").toString(), QStringLiteral("win32"));
                QCOMPARE(a.value("processorArchitecture").toString(), QStringLiteral("*"));
                seen["identity"] = "yes";
            } else if (n == "assemblyIdentity" && a.value("name") == QLatin1String("Microsoft.Windows.Common-Controls")) {
                commonControls = a.value("version") == QLatin1String("6.0.0.0") &&
                                 a.value("processorArchitecture") == QLatin1String("*") &&
                                 a.value("language") == QLatin1String("*");
            } else if (n == "supportedOS") {
                supported.append(a.value("Id").toString());
            } else if (n == "requestedExecutionLevel") {
                seen["level"] = a.value("level").toString() + "/" + a.value("uiAccess").toString();
            } else if (n == "dpiAware" || n == "dpiAwareness") {
                seen[n] = r.readElementText();
            }
        }
        QVERIFY2(!r.hasError(), qPrintable(r.errorString()));
        QCOMPARE(seen.value("identity"), QStringLiteral("yes"));
        QVERIFY(commonControls);
        QCOMPARE(supported.size(), 4);
        for (const char *id : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                               "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
            QVERIFY2(supported.contains(QString::fromLatin1(id)), id);
        QCOMPARE(seen.value("level"), QStringLiteral("asInvoker/false"));
        QCOMPARE(seen.value("dpiAware"), QStringLiteral("True/pm"));
        QCOMPARE(seen.value("dpiAwareness"), QStringLiteral("permonitorv2,permonitor"));
    }

    void resourceScriptCompiles()
    {
        const QString windres = QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-windres"));
        if (windres.isEmpty())
            QSKIP("the mingw resource compiler is not installed");
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("vardelolink.res"));
        QProcess rc;
        rc.setWorkingDirectory(QStringLiteral(VARDELO_SOURCE_DIR "/app"));
        rc.start(windres, {"--preprocessor=cpp", "--preprocessor-arg=-P", "-I", ".", "-I", VARDELO_GENERATED_DIR,
                           "vardelolink.rc", "-O", "res", "-o", out});
        QVERIFY(rc.waitForFinished(60000));
        QVERIFY2(rc.exitCode() == 0, rc.readAllStandardError().constData());

        const QList<Resource> res = ParseRes(ReadFile(out));
        int icons = 0;
        const Resource *group = nullptr, *version = nullptr, *manifest = nullptr;
        for (const Resource &r : res) {
            if (r.type == kRtIcon)
                ++icons;
            if (r.type == kRtGroupIcon)
                group = &r;
            if (r.type == kRtVersion)
                version = &r;
            if (r.type == kRtManifest)
                manifest = &r;
        }
        QCOMPARE(icons, 7);
        QVERIFY(group);
        QCOMPARE(group->name, 102);
        QCOMPARE(group->language, kEnglishUs);
        QCOMPARE(Le<quint16>(group->data, 4), 7);

        QVERIFY(version);
        const QByteArray v = version->data;
        // VS_FIXEDFILEINFO follows the "VS_VERSION_INFO" key.
        const qsizetype fixed = v.indexOf(QByteArray::fromHex("bd04effe"));
        QVERIFY(fixed > 0);
        const quint32 high = VARDELO_VERSION_MAJOR << 16 | VARDELO_VERSION_MINOR;
        const quint32 low = VARDELO_VERSION_FIX << 16 | VARDELO_VERSION_BUILD;
        QCOMPARE(Le<quint32>(v, fixed + 8), high); // file version
        QCOMPARE(Le<quint32>(v, fixed + 12), low);
        QCOMPARE(Le<quint32>(v, fixed + 16), high); // product version
        QCOMPARE(Le<quint32>(v, fixed + 20), low);
        QCOMPARE(Le<quint32>(v, fixed + 32), 0x00000004u); // 32-bit Windows
        QCOMPARE(Le<quint32>(v, fixed + 36), 0x00000001u); // application
        for (const char *text : {"040904B0", "FileVersion", VARDELO_VERSION_TEXT, "OriginalFilename", "VardeloLinkWin", "Release",
                                 "Alpha", "CompanyName", "LongVersion", "LegalCopyright", "VardeloLink developers",
                                 "FileDescription", "ProductVersion", "ProductName", "InternalName", "PackageInfo",
                                 "Translation"})
            QVERIFY2(v.contains(Utf16(text)), text);
        QVERIFY(v.contains(QByteArray::fromHex("0904b004"))); // translation 0x0409, 0x04B0

        QVERIFY(manifest);
        QCOMPARE(manifest->name, 1);
        QVERIFY(manifest->data.contains("permonitorv2,permonitor"));
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
