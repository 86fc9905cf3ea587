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

// The windowing layer reports key changes through these, as the events arrive, so that
// isKeyDown answers for the event being handled rather than for "now".

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
