#include "store/passwordcodec.h"
#include "tests/support/testsupport.h"

#include <QRandomGenerator>

// The stored form is read back from databases written by earlier releases, so the vectors below
// are worked out by hand and must never change.
class TestPasswordCodec : public QObject
{
    Q_OBJECT

private slots:
    void fixedStoredForms_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("stored");

        // "a" -> base64 "YQ==" -> first '=' at 2 (< 6): not shuffled
        //     -> XOR 0x1F: Y 59->46 F, Q 51->4E N, = 3D->22 "
        QTest::newRow("1 byte") << "a"
                                << "FN\"\"";
        // "ab" -> "YWI=" -> '=' at 3: not shuffled -> W 57->48 H, I 49->56 V
        QTest::newRow("2 bytes") << "ab"
                                 << "FHV\"";
        // "abc" -> "YWJj" -> no '=', length 4 < 6: not shuffled -> J 4A->55 U, j 6A->75 u
        QTest::newRow("3 bytes") << "abc"
                                 << "FHUu";
        // "pass" -> "cGFzcw==" -> '=' at 6: body "cGFzcw" -> "c" + "wczFG" -> "cwczFG=="
        //     -> c 63->7C |, w 77->68 h, z 7A->65 e, F 46->59 Y, G 47->58 X
        QTest::newRow("4 bytes, two =") << "pass"
                                        << "|h|eYX\"\"";
        // "hello" -> "aGVsbG8=" -> '=' at 7: body "aGVsbG8" -> "a" + "8GbsVG" -> "a8GbsVG="
        //     -> a 61->7E ~, 8 38->27 ', b 62->7D }, s 73->6C l, V 56->49 I
        QTest::newRow("5 bytes, one =") << "hello"
                                        << "~'X}lIX\"";
        // "secret" -> "c2VjcmV0" -> no '=', length 8: "c" + "0VmcjV2" -> "c0VmcjV2"
        //     -> 0 30->2F /, m 6D->72 r, j 6A->75 u, 2 32->2D -
        QTest::newRow("6 bytes, no =") << "secret"
                                       << "|/Ir|uI-";
        // "密码" -> UTF-8 E5 AF 86 E7 A0 81 -> "5a+G56CB" -> "5" + "BC65G+a" -> "5BC65G+a"
        //     -> 5 35->2A *, B 42->5D ], C 43->5C \, 6 36->29 ), + 2B->34 4
        QTest::newRow("non-ASCII") << QStringLiteral("密码") << "*]\\)*X4~";
    }

    void fixedStoredForms()
    {
        QFETCH(QString, plain);
        QFETCH(QString, stored);
        QString encoded;
        QVERIFY(encodePassword(plain, encoded));
        QCOMPARE(encoded, stored);
        QString decoded;
        QVERIFY(decodePassword(stored, decoded));
        QCOMPARE(decoded, plain);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("plain");
        for (int n = 1; n <= 12; ++n)
            QTest::newRow(qPrintable(QStringLiteral("%1 bytes").arg(n)))
                << QStringLiteral("pQ7_x!Zk~3m#").left(n);
        QTest::newRow("2-byte character") << QStringLiteral("é");
        QTest::newRow("mixed script") << QStringLiteral("Pässwört-密码-пароль");
        QTest::newRow("emoji") << QStringLiteral("key\U0001F511");
        QTest::newRow("quotes") << QStringLiteral("it's \"quoted\"");
        QTest::newRow("injection") << QStringLiteral("x' OR '1'='1");
        QTest::newRow("equals signs") << QStringLiteral("==a=b==");
        QTest::newRow("long") << QString(300, QLatin1Char('z'));
    }

    void roundTrip()
    {
        QFETCH(QString, plain);
        QString stored;
        QVERIFY(encodePassword(plain, stored));
        // The decoding shuffle relies on the stored form holding no '='.
        QVERIFY(!stored.contains(QLatin1Char('=')));
        for (const QChar c : stored)
            QVERIFY(c.unicode() > 0 && c.unicode() < 0x80);
        QString decoded;
        QVERIFY(decodePassword(stored, decoded));
        QCOMPARE(decoded, plain);
    }

    // 1 to 3 bytes give 4 Base64 characters, which are only XORed.
    void shortPasswordsAreNotShuffled()
    {
        for (const QString &plain : {QStringLiteral("q"), QStringLiteral("é"),
                                     QStringLiteral("xyz"), QStringLiteral("密")}) {
            QString stored;
            QVERIFY(encodePassword(plain, stored));
            QByteArray unmasked = stored.toLatin1();
            for (char &c : unmasked)
                c = static_cast<char>(c ^ 0x1F);
            QCOMPARE(unmasked, plain.toUtf8().toBase64());
        }
    }

    void shuffle_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("shuffled");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("5, no =") << QByteArray("abcde") << QByteArray("abcde");
        QTest::newRow("6, no =") << QByteArray("abcdef") << QByteArray("afedcb");
        QTest::newRow("7, no =") << QByteArray("abcdefg") << QByteArray("agfedcb");
        QTest::newRow("= at 5") << QByteArray("abcde=fghij") << QByteArray("abcde=fghij");
        QTest::newRow("= at 6") << QByteArray("abcdef=g=") << QByteArray("afedcb=g=");
        QTest::newRow("= at 7") << QByteArray("abcdefg==") << QByteArray("agfedcb==");
        QTest::newRow("= first") << QByteArray("=abcdefgh") << QByteArray("=abcdefgh");
    }

    void shuffle()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, shuffled);
        QCOMPARE(shuffleText(text), shuffled);
    }

    void emptyInputHasNoForm()
    {
        QString out = QStringLiteral("left over");
        QVERIFY(!encodePassword(QString(), out));
        QVERIFY(out.isEmpty());
        out = QStringLiteral("left over");
        QVERIFY(!decodePassword(QString(), out));
        QVERIFY(out.isEmpty());
    }

    // Characters outside the Base64 alphabet after unmasking are skipped, wherever they stand.
    void decodingSkipsStrayCharacters()
    {
        QString plain;
        // ' ' unmasks to '?', which the decoder skips; 5 characters are not shuffled.
        QVERIFY(decodePassword(QStringLiteral("FH Uu"), plain));
        QCOMPARE(plain, QStringLiteral("abc"));
    }

    void garbageNeverCrashes()
    {
        const QList<QString> fixed = {QStringLiteral("="),
                                      QStringLiteral("======"),
                                      QStringLiteral("\"\"\"\"\"\""),
                                      QStringLiteral("a=b=c=d=e"),
                                      QStringLiteral("密码密码密码"),
                                      QString(QChar(0xD800)),
                                      QString(1, QChar(0)),
                                      QString(5000, QLatin1Char('='))};
        for (const QString &text : fixed) {
            QString plain;
            decodePassword(text, plain);
            shuffleText(text.toUtf8());
        }
        QRandomGenerator random(20240611);
        for (int round = 0; round < 2000; ++round) {
            QString text;
            const int length = int(random.bounded(40));
            for (int i = 0; i < length; ++i)
                text.append(QChar(ushort(random.bounded(round % 2 ? 0x80 : 0x10000))));
            QString plain;
            decodePassword(text, plain);
        }
    }
};

NORVA_TEST_MAIN(TestPasswordCodec)
#include "tst_passwordcodec.moc"
