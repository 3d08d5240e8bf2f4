#include "tests/support/testsupport.h"
#include "web/engineflags.h"

class TestEngineFlags : public QObject
{
    Q_OBJECT

private slots:
    void compatibilityMode_data()
    {
        QTest::addColumn<QByteArray>("flags");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray both = "--disable-gpu --disable-gpu-compositing";
        QTest::newRow("none") << QByteArray() << both;
        QTest::newRow("kept") << QByteArray("--foo --bar=1") << "--foo --bar=1 " + both;
        QTest::newRow("one present") << QByteArray("--disable-gpu") << both;
        QTest::newRow("both present, other order")
            << QByteArray("--disable-gpu-compositing --disable-gpu")
            << QByteArray("--disable-gpu-compositing --disable-gpu");
        QTest::newRow("similar name is another flag")
            << QByteArray("--disable-gpu-rasterization") << "--disable-gpu-rasterization " + both;
    }

    void compatibilityMode()
    {
        QFETCH(QByteArray, flags);
        QFETCH(QByteArray, expected);
        QCOMPARE(EngineFlags::withCompatibilityMode(flags), expected);
        // Applying it twice changes nothing more.
        QCOMPARE(EngineFlags::withCompatibilityMode(expected), expected);
    }

    void environmentKeepsItsFlags()
    {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--lang=zh-CN");
        EngineFlags::enableCompatibilityMode();
        QCOMPARE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                 QByteArray("--lang=zh-CN --disable-gpu --disable-gpu-compositing"));
    }
};

NORVA_TEST_MAIN(TestEngineFlags)
#include "tst_engineflags.moc"
