// SPDX-License-Identifier: MIT
// The vector font as OpenGL display lists: every glyph of the built-in outline table as a
// flat face, the side walls that make it a solid 0.25 deep, and a line outline.
//
// Glyph frame, in model units: x right, z down, the face in the plane y = 0, the solid glyph
// from y = -0.25 to 0. Each drawing call moves the pen by the glyph's width along +x; codes
// without a glyph draw nothing and leave the pen where it is.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "font.h"
#include "gl.h"

constexpr double glyph_depth = 0.25;  // model units

struct glCharacter {
    double width = 0.0;   // advance, model units
    double height = 0.0;  // model units
    // [0] the face, [1] the side walls, [2] the outline; 0 where no list was built.
    std::array<GLuint, 3> displayList{};
};

// Builds the lists of one glyph read from the table. A glyph without contours gets no lists;
// one that the tessellator cannot build reports `kulimbara: cannot build glyph N: <reason>`
// on standard error and keeps its metrics.
glCharacter createCharacter(int code, const glyph_record& record);

// Walks the whole table and fills `gl_table` for the codes it holds.
void createFontCLs(std::span<glCharacter> gl_table, std::span<const std::int32_t> font_table);

// The game's font: the display lists of every glyph of the built-in table. Empty, drawing
// nothing, until fontInit builds it. The lists live as long as the OpenGL context: the set
// never deletes them.
class glyph_set {
  public:
    // Builds the font once; needs a current OpenGL context. Later calls do nothing.
    void fontInit();

    // The built glyph of `ch`, or nullptr when the code has none or the font is not built.
    const glCharacter* built_glyph(unsigned char ch) const;

    // Solid glyph: front face and walls, and with `back` the back face too.
    void f3dChar(unsigned char ch, bool back) const;
    // The flat face only.
    void f2dChar(unsigned char ch) const;
    // The outline only.
    void fOutlineChar(unsigned char ch) const;

    // A whole text in the solid look without back faces, or in the flat look: the same
    // picture as f3dChar or f2dChar on each byte, with the front-face winding switched once
    // for the text rather than twice for every glyph (each switch costs the software renderer
    // a pipeline change).
    void f3dText(std::string_view text) const;
    void f2dText(std::string_view text) const;

  private:
    std::array<glCharacter, last_glyph_code + 1> acme_gl{};
    bool font_built = false;
};
