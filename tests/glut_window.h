#pragma once

// The editor's window on the test's own X server, for tests that draw frames with the real OpenGL
// and read the pixels back.

#include <gtest/gtest.h>

// Opens the editor's window on $DISPLAY with the editor's own reshape and waits until it is
// shown at WINDOW_SIZE; closes it when the test program ends.
class EditorWindowEnvironment : public ::testing::Environment
{
  public:
    void SetUp() override;
    void TearDown() override;

  private:
    int window = 0;
};

// Resizes the window and waits until the editor's reshape has given it that size; false if
// it did not within 10 s.
bool resizeEditorWindow(int width, int height);
