// NORVA_TEST_RUN_SERIAL: real key presses through XTEST and grabs on the shared root window.
#include "tests/support/testsupport.h"

#include "platform/qhotkey.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

bool pressKeys(const QString &keys)
{
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
}

const QKeySequence ctrlAltShiftF9(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_F9);
const quint16 ctrlAltShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;
const quint16 lockVariants[] = {0, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK,
                                XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK};

// A second X client, as another program on the desktop would be; its grabs of Ctrl+Alt+Shift+F9
// end with it.
class OtherClient
{
public:
    OtherClient() : m_connection(xcb_connect(nullptr, nullptr))
    {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        if (xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, 0xffc6 /* F9 */)) {
            m_f9 = codes[0];
            free(codes);
        }
        xcb_key_symbols_free(symbols);
    }
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool grabF9(quint16 locks = 0)
    {
        xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 1, m_root, ctrlAltShift | locks, m_f9,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const bool granted = !error;
        free(error);
        return granted;
    }
    // How many of the four lock variants nobody else holds; the probe grabs are given back.
    int freeVariants()
    {
        int count = 0;
        for (const quint16 locks : lockVariants)
            if (grabF9(locks)) {
                ++count;
                xcb_ungrab_key(m_connection, m_f9, m_root, ctrlAltShift | locks);
            }
        xcb_flush(m_connection);
        return count;
    }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
    xcb_keycode_t m_f9 = 0;
};

} // namespace

class TestQHotkey : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (const char *why = NorvaTest::missingXdotool())
            QSKIP(why);
    }

    void pressFiresActivatedWithAndWithoutNumLock()
    {
        QHotkey hotkey(ctrlAltShiftF9, true);
        QVERIFY(hotkey.isRegistered());
        QSignalSpy spy(&hotkey, &QHotkey::activated);
        // Without auto registration nothing is grabbed until asked.
        QHotkey later(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F12")));
        QVERIFY(!later.isRegistered());
        QVERIFY(later.setRegistered(true));
        QSignalSpy laterSpy(&later, &QHotkey::activated);

        auto pressBoth = [&](int times) {
            return pressKeys(QStringLiteral("ctrl+alt+shift+F9")) &&
                   NorvaTest::waitFor([&] { return spy.count() == times; }) &&
                   pressKeys(QStringLiteral("ctrl+alt+shift+F12")) &&
                   NorvaTest::waitFor([&] { return laterSpy.count() == times; });
        };
        QVERIFY(pressBoth(1));
        // NumLock toggled, so one of the two rounds runs with it on.
        QVERIFY(pressKeys(QStringLiteral("Num_Lock")));
        auto restore = qScopeGuard([] { pressKeys(QStringLiteral("Num_Lock")); });
        QVERIFY(pressBoth(2));
        // Only the hotkey whose combination was pressed answers.
        QCOMPARE(spy.count(), 2);
    }

    void combinationHeldByAnotherClient()
    {
        OtherClient holder, checker;
        // Only the plain combination is held, so our NumLock and CapsLock variants would succeed:
        // they must be given back when the whole grab fails.
        QVERIFY(holder.grabF9());
        QHotkey hotkey(ctrlAltShiftF9, true);
        QVERIFY(!hotkey.isRegistered());
        QVERIFY(!hotkey.setRegistered(true));
        QCOMPARE(checker.freeVariants(), 3);
    }

    void releaseGivesTheCombinationBack()
    {
        OtherClient other;
        {
            QHotkey first(ctrlAltShiftF9, true);
            {
                QHotkey second(ctrlAltShiftF9, true);
                QVERIFY(first.isRegistered() && second.isRegistered());
            }
            // The remaining hotkey still holds the grab.
            QCOMPARE(other.freeVariants(), 0);
            QVERIFY(first.setRegistered(false));
            QCOMPARE(other.freeVariants(), 4);
            QVERIFY(first.setRegistered(true));
        }
        QCOMPARE(other.freeVariants(), 4);

        // Deleting the hotkey from its own handler is allowed, and the grab goes with it.
        auto *hotkey = new QHotkey(ctrlAltShiftF9, true);
        QPointer<QHotkey> guard(hotkey);
        connect(hotkey, &QHotkey::activated, hotkey, [hotkey] { delete hotkey; });
        QVERIFY(pressKeys(QStringLiteral("ctrl+alt+shift+F9")));
        QTRY_VERIFY(guard.isNull());
        QCOMPARE(other.freeVariants(), 4);
    }

    void notASingleCombination_data()
    {
        QTest::addColumn<QKeySequence>("sequence");
        QTest::newRow("empty") << QKeySequence();
        QTest::newRow("two chords") << QKeySequence(QStringLiteral("Ctrl+A, B"));
        QTest::newRow("unparsable text")
            << QKeySequence(QStringLiteral("Ctrl+Alt+NoSuchKey"), QKeySequence::NativeText);
        QTest::newRow("modifier only") << QKeySequence(Qt::CTRL | Qt::Key_Control);
        QTest::newRow("unmapped key") << QKeySequence(Qt::CTRL | Qt::Key_Launch9);
    }

    void notASingleCombination()
    {
        QFETCH(QKeySequence, sequence);
        QHotkey hotkey(sequence, true);
        QVERIFY(!hotkey.isRegistered());
        QVERIFY(!hotkey.setRegistered(true));
        QVERIFY(hotkey.setRegistered(false));
    }
};

NORVA_TEST_MAIN(TestQHotkey)
#include "tst_qhotkey.moc"
