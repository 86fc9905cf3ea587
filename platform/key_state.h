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

// The windowing layer reports what the toolkit says of the keys through these, as the events
// arrive. Where the keymap is sampled (on X with a window) it is the whole truth and these add
// nothing; without a window they are all there is to go by.

// Modifier bits reported with a keyboard or mouse event (Shift 1, Control 2): exact for that
// event.
void noteEventModifiers(int modifierBits);
// A character key went down or up; the Tab character updates the Tab state.
void noteCharacterKey(unsigned char character, bool down);
// The window lost the keyboard: releases may go elsewhere, so nothing stays down.
void releaseAllKeys();
