#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/PasteboardItem.hpp"
#include "Runtime/Bytes.hpp"

namespace quib {

// How the clipboard's contents are named and shaped on an X display, apart from the display
// itself: which targets (X's names for types) the host's items are offered as, and in which
// order another owner's targets are read.
namespace X11ClipboardTypes {

// The shape of an answer: the property type it carries and its format (8, 16 or 32 bits a
// unit). Bytes of the 32-bit format hold 4-byte units in the machine's order.
struct Form {
    std::string type;
    int format = 8;
    bool operator==(const Form&) const = default;
};

// The forms that targets read from another owner came in, by target.
using Forms = std::map<std::string, Form, std::less<>>;

// One target the clipboard answers, with its form and bytes.
struct Offer {
    std::string target;
    Form form;
    std::shared_ptr<const Bytes> bytes;
};

// The targets `items` are offered as, each once (the first item that offers one gives its
// bytes): text as UTF8_STRING, "text/plain;charset=utf-8", TEXT (answered as UTF8_STRING) and
// STRING (ISO 8859-1, with "?" for every other character); a PNG or JPEG image as its MIME type;
// a file URL as a "text/uri-list" line. Any other type is a target read from another owner and
// goes back in the form it came in (`read`), or, when that is unknown, as a type of its own name.
std::vector<Offer> offers(const std::vector<PasteboardItem>& items, const Forms& read);

// Which of the targets another owner offers are read, in order: those the host serves back as
// text or an image first, then the others in the owner's order. The owner's own protocol targets
// (TARGETS, MULTIPLE, TIMESTAMP, SAVE_TARGETS, DELETE, INCR) and repeats are left out.
std::vector<std::string> readingOrder(const std::vector<std::string>& offered);

// UTF-8 text as ISO 8859-1: characters above U+00FF, and ill-formed bytes, become "?".
Bytes latin1(std::string_view utf8);

}  // namespace X11ClipboardTypes
}  // namespace quib
