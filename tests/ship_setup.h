#pragma once

// The editor's ship set up for a test through the editor's own operations, so that its record
// of changes, its binding and the drawing's index follow, as they do in the editor.

#include "edit/pointer_edit.h"
#include "edit/save_load.h"
#include "model/ship.h"
#include "shipfile/ship_file.h"
#include "shipfile/text_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

// Replaces the editor's ship by the ship in `text`, as a load of a file with that text does.
// Text that does not parse changes nothing and returns false with the reason in `error`.
inline bool loadShipFromText(std::string_view text, std::string& error)
{
    TextReader r;
    r.text = text;
    ShipFileContent content;
    return parseShip(r, content, error) && adoptShip(content, error);
}

// Makes these lists the editor's ship, as a load of them would, with its binding prepared.
inline void useShip(std::vector<Triangle> triangles, std::vector<Attachment> attachments = {})
{
    ShipFileContent content{std::move(triangles), std::move(attachments)};
    std::string error;
    ASSERT_TRUE(adoptShip(content, error)) << error;
}

// Adds to the editor's ship as an edit does, room first.
inline void addTriangle(const Triangle& t)
{
    ASSERT_TRUE(roomForGrowth());
    appendTriangle(ship, t);
}

inline void addAttachment(const Attachment& a)
{
    ASSERT_TRUE(roomForGrowth());
    appendAttachment(ship, a);
}
