#include "model/ship.h"

Ship ship;
EditorState editor;
