#pragma once

// The keys whose state the editor asks for while it handles an event.
enum class Key
{
    Shift,
    Control,
    Tab,
};

// Whether the key was down when the event being handled was generated.
bool isKeyDown(Key key);

// At the start of every keyboard, mouse and motion event: on X, learns the state of the keys
// as of the event being handled from the server's keymap, by their key codes, so that a key
// whose release arrives as another keysym (Tab with Shift held) or a character that only
// looks like a key (Control + I gives Tab's character) is told apart, as Windows tells them.
// Without a window (and on Windows, which keeps that state itself) it does nothing.
void sampleKeysForEvent();

// The windowing layer reports key changes through these, as the events arrive, so that
// isKeyDown answers for the event being handled rather than for "now". Where the keymap is
// sampled these only fill in between samples.

// Modifier bits reported with a keyboard or mouse event (Shift 1, Control 2): they are
// exact for that event and override whatever was tracked before.
void noteEventModifiers(int modifierBits);
// A special key (as the toolkit numbers them) went down or up; the four Shift and
// Control codes update the state, all others are ignored.
void noteSpecialKey(int specialKey, bool down);
// A character key went down or up; the Tab character updates the Tab state.
void noteCharacterKey(unsigned char character, bool down);
// The window lost the keyboard: releases may go elsewhere, so nothing stays down.
void releaseAllKeys();
