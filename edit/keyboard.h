#pragma once

// Section sign: takes back the last pending point.
constexpr unsigned char KEY_REMOVE_POINT = 0xA7;
constexpr unsigned char KEY_SAVE = '1';
constexpr unsigned char KEY_LOAD = '0';

// Runs the command bound to a typed character, then applies the Tab and Shift checks.
void keyboardCommand(unsigned char character);
