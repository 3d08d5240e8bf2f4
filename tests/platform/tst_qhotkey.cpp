// NORVA_TEST_RUN_SERIAL: real key presses through XTEST and grabs on the shared root window.
#include "tests/support/testsupport.h"

#include "platform/qhotkey.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QX11Info>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

const quint32 keysymF9 = 0xffc6;

bool pressKeys(const QString &keys)
{
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
}

// A second X client, as another program on the desktop would be.
class OtherClient
{
public:
    OtherClient()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        if (xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysymF9)) {
            m_f9 = codes[0];
            free(codes);
        }
        xcb_key_symbols_free(symbols);
    }
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool usable() const { return !xcb_connection_has_error(m_connection) && m_f9 != 0; }
    // Ctrl+Alt+Shift+F9 with the given extra lock modifiers.
    bool grabF9(quint16 locks = 0)
    {
        xcb_void_cookie_t cookie =
            xcb_grab_key_checked(m_connection, 1, m_root, mask() | locks, m_f9, XCB_GRAB_MODE_ASYNC,
                                 XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
            free(error);
            return false;
        }
        return true;
    }
    void ungrabF9(quint16 locks = 0)
    {
        xcb_ungrab_key(m_connection, m_f9, m_root, mask() | locks);
        xcb_flush(m_connection);
    }
    bool numLockOn()
    {
        xcb_query_pointer_reply_t *reply =
            xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr);
        const bool on = reply && (reply->mask & XCB_MOD_MASK_2);
        free(reply);
        return on;
    }

private:
    static quint16 mask() { return XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT; }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_keycode_t m_f9 = 0;
};

const QKeySequence ctrlAltShiftF9(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_F9);
const QKeySequence ctrlAltShiftF11(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_F11);

} // namespace

class TestQHotkey : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QX11Info::isPlatformX11())
            QSKIP("needs an X server");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs xdotool");
    }

    void pressFiresActivated()
    {
        QHotkey hotkey(ctrlAltShiftF11, true);
        QVERIFY(hotkey.isRegistered());
        QCOMPARE(hotkey.shortcut(), ctrlAltShiftF11);
        QSignalSpy spy(&hotkey, &QHotkey::activated);
        QVERIFY(pressKeys(QStringLiteral("ctrl+alt+shift+F11")));
        QVERIFY(spy.wait());
        QCOMPARE(spy.count(), 1);

        // Without auto registration nothing is grabbed until asked.
        QHotkey later(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F12")));
        QVERIFY(!later.isRegistered());
        QVERIFY(later.setRegistered(true));
        QVERIFY(later.isRegistered());
        QSignalSpy laterSpy(&later, &QHotkey::activated);
        QVERIFY(pressKeys(QStringLiteral("ctrl+alt+shift+F12")));
        QVERIFY(laterSpy.wait());
        // Only the hotkey whose combination was pressed answers.
        QCOMPARE(spy.count(), 1);
    }

    void numLockDoesNotMatter()
    {
        OtherClient probe;
        QVERIFY(probe.usable());
        const bool wasOn = probe.numLockOn();
        if (!wasOn)
            QVERIFY(pressKeys(QStringLiteral("Num_Lock")));
        auto restore = qScopeGuard([&] {
            if (!wasOn)
                pressKeys(QStringLiteral("Num_Lock"));
        });
        QVERIFY(NorvaTest::waitFor([&] { return probe.numLockOn(); }, 5000));

        QHotkey hotkey(ctrlAltShiftF11, true);
        QVERIFY(hotkey.isRegistered());
        QSignalSpy spy(&hotkey, &QHotkey::activated);
        QVERIFY(pressKeys(QStringLiteral("ctrl+alt+shift+F11")));
        QVERIFY(spy.wait());
    }

    void combinationHeldByAnotherClient()
    {
        OtherClient other;
        QVERIFY(other.usable());
        // The other program holds only the plain combination, so our NumLock and CapsLock
        // variants would succeed: they must be given back when the whole grab fails.
        QVERIFY(other.grabF9());
        {
            QHotkey hotkey(ctrlAltShiftF9, true);
            QVERIFY(!hotkey.isRegistered());
            QVERIFY(!hotkey.setRegistered(true));
            QVERIFY(!hotkey.isRegistered());
        }
        QVERIFY(other.grabF9(XCB_MOD_MASK_2));
        QVERIFY(other.grabF9(XCB_MOD_MASK_LOCK));
        QVERIFY(other.grabF9(XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK));

        // Once the other program lets go, the combination is ours.
        other.ungrabF9();
        other.ungrabF9(XCB_MOD_MASK_2);
        other.ungrabF9(XCB_MOD_MASK_LOCK);
        other.ungrabF9(XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK);
        QHotkey hotkey(ctrlAltShiftF9, true);
        QVERIFY(hotkey.isRegistered());
        QSignalSpy spy(&hotkey, &QHotkey::activated);
        QVERIFY(pressKeys(QStringLiteral("ctrl+alt+shift+F9")));
        QVERIFY(spy.wait());
    }

    void releaseGivesTheCombinationBack()
    {
        OtherClient other;
        QVERIFY(other.usable());
        {
            QHotkey hotkey(ctrlAltShiftF9, true);
            QVERIFY(hotkey.isRegistered());
            QVERIFY(!other.grabF9());
        }
        // Destroyed: every variant is free again.
        QVERIFY(other.grabF9());
        QVERIFY(other.grabF9(XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK));
        other.ungrabF9();
        other.ungrabF9(XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK);

        QHotkey hotkey(ctrlAltShiftF9, true);
        QVERIFY(hotkey.isRegistered());
        QVERIFY(hotkey.setRegistered(false));
        QVERIFY(!hotkey.isRegistered());
        QVERIFY(other.grabF9(XCB_MOD_MASK_LOCK));
        other.ungrabF9(XCB_MOD_MASK_LOCK);
        // And it can be taken again.
        QVERIFY(hotkey.setRegistered(true));
        QVERIFY(!other.grabF9());
    }

    void sharedCombinationSurvivesOneOwner()
    {
        OtherClient other;
        QVERIFY(other.usable());
        QHotkey first(ctrlAltShiftF9, true);
        auto *second = new QHotkey(ctrlAltShiftF9, true);
        QVERIFY(first.isRegistered());
        QVERIFY(second->isRegistered());
        delete second;
        // The remaining hotkey still holds the grab and still fires.
        QVERIFY(!other.grabF9());
        QSignalSpy spy(&first, &QHotkey::activated);
        QVERIFY(pressKeys(QStringLiteral("ctrl+alt+shift+F9")));
        QVERIFY(spy.wait());
    }

    void handlerMayDeleteTheHotkey()
    {
        OtherClient other;
        QVERIFY(other.usable());
        auto *hotkey = new QHotkey(ctrlAltShiftF9, true);
        QVERIFY(hotkey->isRegistered());
        QPointer<QHotkey> guard(hotkey);
        connect(hotkey, &QHotkey::activated, hotkey, [hotkey] { delete hotkey; });
        QVERIFY(pressKeys(QStringLiteral("ctrl+alt+shift+F9")));
        QTRY_VERIFY(guard.isNull());
        // The grab went with it.
        QVERIFY(other.grabF9());
        other.ungrabF9();
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
        // Letting go of nothing is fine.
        QVERIFY(hotkey.setRegistered(false));
    }
};

NORVA_TEST_MAIN(TestQHotkey)
#include "tst_qhotkey.moc"
