// NORVA_TEST_RUN_SERIAL: real key presses through XTEST and grabs on the shared root window.
#include "platform/qhotkey.h"
#include "tests/support/testsupport.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

bool pressKeys(const char *keys)
{
    return QProcess::execute("xdotool", {"key", keys}) == 0;
}

const QKeySequence ctrlAltShiftF9(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_F9);
const quint16 ctrlAltShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;
const quint16 lockVariants[] = {0, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK,
                                XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK};

// A second X client, as another program on the desktop would be.
struct OtherClient
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_keycode_t f9 = 0;

    OtherClient()
    {
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(c);
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, 0xffc6 /* F9 */);
        f9 = codes ? codes[0] : 0;
        free(codes);
        xcb_key_symbols_free(symbols);
    }
    ~OtherClient() { xcb_disconnect(c); }

    // Whether this client may grab F9 with these modifiers; given back unless kept.
    bool grab(quint16 mods, bool keep = false)
    {
        xcb_generic_error_t *error =
            xcb_request_check(c, xcb_grab_key_checked(c, 1, root, mods, f9, XCB_GRAB_MODE_ASYNC,
                                                      XCB_GRAB_MODE_ASYNC));
        free(error);
        if (!keep)
            xcb_ungrab_key(c, f9, root, mods);
        xcb_flush(c);
        return !error;
    }
    // How many of the four lock variants nobody else holds.
    int freeVariants()
    {
        int count = 0;
        for (const quint16 locks : lockVariants)
            count += grab(ctrlAltShift | locks);
        return count;
    }
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
        QSignalSpy spy(&hotkey, &QHotkey::activated);
        QVERIFY(pressKeys("ctrl+alt+shift+F9"));
        QTRY_COMPARE(spy.count(), 1);
        QVERIFY(pressKeys("Num_Lock"));
        auto restore = qScopeGuard([] { pressKeys("Num_Lock"); });
        QVERIFY(pressKeys("ctrl+alt+shift+F9"));
        QTRY_COMPARE(spy.count(), 2);
    }

    void grabsAreGivenBack()
    {
        OtherClient other;
        {
            QHotkey hotkey(ctrlAltShiftF9, true);
            QVERIFY(hotkey.isRegistered());
            QCOMPARE(other.freeVariants(), 0);
        }
        QCOMPARE(other.freeVariants(), 4); // released on destruction
        // Only the plain combination is held elsewhere: our lock variants must be given back.
        OtherClient holder;
        QVERIFY(holder.grab(ctrlAltShift, true));
        QHotkey hotkey(ctrlAltShiftF9, true);
        QVERIFY(!hotkey.isRegistered());
        QVERIFY(!hotkey.setRegistered(true));
        QCOMPARE(other.freeVariants(), 3);
    }

    // Neither what the platforms cannot grab nor a key without Ctrl, Alt or Meta, which would
    // be taken from every program on the desktop.
    void notAGlobalCombination()
    {
        for (const QKeySequence &sequence :
             {QKeySequence(), QKeySequence("Ctrl+A, B"),
              QKeySequence("F8", QKeySequence::NativeText),
              QKeySequence("K", QKeySequence::NativeText),
              QKeySequence("Ctrl+Alt+NoSuchKey", QKeySequence::NativeText),
              QKeySequence(Qt::CTRL | Qt::Key_Control), QKeySequence(Qt::CTRL | Qt::Key_Launch9)}) {
            QHotkey hotkey(sequence, true);
            QVERIFY2(!hotkey.isRegistered(), qPrintable(sequence.toString()));
            QVERIFY(!hotkey.setRegistered(true));
            QVERIFY(hotkey.setRegistered(false));
        }
        // Nothing is taken from the desktop: another program still gets the key.
        OtherClient other;
        for (const quint16 mods : {quint16(0), quint16(XCB_MOD_MASK_SHIFT)}) {
            QHotkey hotkey(mods ? QKeySequence(Qt::SHIFT | Qt::Key_F9) : QKeySequence(Qt::Key_F9),
                           true);
            QVERIFY(!hotkey.isRegistered());
            QVERIFY(other.grab(mods));
        }
        // Meta alone is enough.
        QHotkey meta(QKeySequence(Qt::META | Qt::Key_F9), true);
        QVERIFY(meta.isRegistered());
    }
};

NORVA_TEST_MAIN(TestQHotkey)
#include "tst_qhotkey.moc"
