#pragma once

// The editor's window on a private X server, for tests that draw frames with the real OpenGL
// and read the pixels back.

#include <gtest/gtest.h>

// Starts the X server, opens the editor's window with the editor's own reshape and waits
// until it is shown at WINDOW_SIZE; ends both when the test program ends.
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
