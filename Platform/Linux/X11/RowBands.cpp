#include "Platform/Linux/X11/RowBands.hpp"

#include <algorithm>
#include <iterator>

namespace quib {

std::vector<RowBands::Span> RowBands::gather(std::vector<Span> spans, std::size_t most) {
    std::erase_if(spans, [](const Span& span) { return span.bottom <= span.top; });
    std::ranges::sort(spans, {}, &Span::top);
    std::vector<Span> bands;
    for (const Span& span : spans) {
        if (!bands.empty() && span.top <= bands.back().bottom)
            bands.back().bottom = std::max(bands.back().bottom, span.bottom);
        else bands.push_back(span);
    }
    while (bands.size() > std::max<std::size_t>(most, 1)) {
        auto narrowest = bands.begin();
        for (auto band = bands.begin(); std::next(band) != bands.end(); ++band) {
            if (std::next(band)->top - band->bottom < std::next(narrowest)->top - narrowest->bottom) narrowest = band;
        }
        narrowest->bottom = std::next(narrowest)->bottom;
        bands.erase(std::next(narrowest));
    }
    return bands;
}

}  // namespace quib
