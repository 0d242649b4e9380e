#include "Shared/AttachmentFrame.hpp"

namespace quib {

std::string_view AttachmentFrame::typeIdentifier(Format format) {
    return format == Format::jpeg ? "public.jpeg" : "public.png";
}

std::string_view AttachmentFrame::fileExtension(Format format) { return format == Format::jpeg ? "jpg" : "png"; }

}  // namespace quib
