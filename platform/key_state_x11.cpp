#include "platform/key_state.h"

#include <GL/glx.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

// The key state as of the event being handled. At each event the server's keymap is asked for
// (one round trip) and the key changes still queued behind the event are taken back out of
// it.

namespace
{
constexpr int KEYS = 3; // Shift, Control and Tab, in the order of Key

// A set of the 256 key codes, a bit each, as XQueryKeymap gives the keys held.
struct KeyBits
{
    char bits[32] = {};

    bool has(int code) const
    {
        return (bits[code >> 3] >> (code & 7) & 1) != 0;
    }
    void put(int code, bool on)
    {
        const int bit = 1 << (code & 7);
        bits[code >> 3] = static_cast<char>(on ? bits[code >> 3] | bit : bits[code >> 3] & ~bit);
    }
    bool meets(const KeyBits& other) const
    {
        bool met = false;
        for (int i = 0; i < 32; i++)
        {
            met = met || (bits[i] & other.bits[i]) != 0;
        }
        return met;
    }
};

// Each key's state as of the event being handled, by Key.
bool keyDown[KEYS] = {};

// The key codes that act as each Key on one connection, learned once.
struct KeyCodes
{
    Display* display = nullptr; // the connection they were learned on; none yet
    KeyBits actsAs[KEYS];
};

KeyCodes codes;

// The walk over the events queued behind the one being handled: only the first `remaining`,
// those that came before the keymap's reply. The first queued change of a key tells what the
// key was as of the handled event: down before a release, up before a press.
struct QueueWalk
{
    int remaining = 0;
    KeyBits changed;
    KeyBits* keymap = nullptr;
};

Bool takeBackQueuedKey(Display*, XEvent* event, XPointer argument)
{
    QueueWalk& walk = *reinterpret_cast<QueueWalk*>(argument);
    if (walk.remaining <= 0)
    {
        return False;
    }
    walk.remaining--;
    const int keycode = static_cast<int>(event->xkey.keycode) & 0xFF;
    if ((event->type == KeyPress || event->type == KeyRelease) && !walk.changed.has(keycode))
    {
        walk.changed.put(keycode, true);
        walk.keymap->put(keycode, event->type == KeyRelease);
    }
    return False; // takes nothing off the queue
}

void learnKeyCodes(Display* display)
{
    codes = KeyCodes{};
    codes.display = display;
    int first = 0;
    int last = 0;
    XDisplayKeycodes(display, &first, &last);
    int perCode = 0;
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perCode);
    if (map != nullptr)
    {
        for (int keycode = first; keycode <= last && keycode < 256; keycode++)
        {
            const KeySym* syms = map + (keycode - first) * perCode;
            codes.actsAs[static_cast<int>(Key::Tab)].put(keycode, perCode > 0 && syms[0] == XK_Tab);
        }
        XFree(map);
    }
    // Whatever keys the server counts as Shift and Control, left, right or moved elsewhere.
    XModifierKeymap* modifiers = XGetModifierMapping(display);
    if (modifiers != nullptr)
    {
        const int per = modifiers->max_keypermod;
        for (int i = 0; i < per; i++)
        {
            const int shift = modifiers->modifiermap[ShiftMapIndex * per + i];
            const int control = modifiers->modifiermap[ControlMapIndex * per + i];
            codes.actsAs[static_cast<int>(Key::Shift)].put(shift & 0xFF, shift != 0);
            codes.actsAs[static_cast<int>(Key::Control)].put(control & 0xFF, control != 0);
        }
        XFreeModifiermap(modifiers);
    }
}
} // namespace

void sampleKeysForEvent()
{
    Display* display = glXGetCurrentDisplay();
    if (display == nullptr)
    {
        return;
    }
    if (codes.display != display)
    {
        learnKeyCodes(display);
    }
    // The reply comes after every event the server sent before it, so once it is in, the
    // queue holds exactly the events between the one being handled and the reply.
    KeyBits keymap;
    XQueryKeymap(display, keymap.bits);
    QueueWalk walk;
    walk.remaining = XEventsQueued(display, QueuedAlready);
    walk.keymap = &keymap;
    XEvent unused;
    XCheckIfEvent(display, &unused, takeBackQueuedKey, reinterpret_cast<XPointer>(&walk));
    for (int key = 0; key < KEYS; key++)
    {
        keyDown[key] = keymap.meets(codes.actsAs[key]);
    }
}

bool isKeyDown(Key key)
{
    return keyDown[static_cast<int>(key)];
}
