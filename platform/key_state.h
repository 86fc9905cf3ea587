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
// Windows keeps that state itself, and there it does nothing.
void sampleKeysForEvent();
