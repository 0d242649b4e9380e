#pragma once

#include <QColor>
#include <QImage>

#include <memory>
#include <string>

#include "QuibHost/Interface/MenuView.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"

namespace quib::testing {

// The panel for a state, laid out at its own whole size (not shown), however tall.
std::unique_ptr<MenuView> panelFor(const MenuViewState& state);
// The panel as drawn.
QImage pictureOf(MenuView& view);
// The colour at the centre of the header's dot, as drawn.
QColor headerDotColour(MenuView& view);

// The colour drawn at the inside left edge of the tinted box that holds an item, halfway down,
// where only the box's fill shows; none when the item is not in a box.
QColor fillColourAround(MenuView& view, MenuSection section, std::size_t index);
// What `tint` drawn over `under` gives.
QColor blended(QColor tint, QColor under);

// Compares a picture with the reference of that name in the source tree: it matches when at
// most 0.5 % of its pixels differ by more than 24 levels in a channel. With
// QUIB_UPDATE_SCREENS=1 the reference is written instead. A mismatch saves the picture and a
// picture of the differences beside the test's artifacts; with QUIB_ARTIFACTS_DIR set, every
// picture is saved there under screens/. Returns what went wrong; empty when it matches.
std::string compareWithReference(const QImage& picture, const std::string& name);
// Saves a picture that has no reference under screens/ in QUIB_ARTIFACTS_DIR, when it is set.
void saveArtifact(const QImage& picture, const std::string& name);

// A panel state whose approval cards, `count` of them, make it taller than most screens.
MenuViewState withRequests(int count);

}  // namespace quib::testing
