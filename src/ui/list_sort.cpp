#include "ui/list_sort.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "discovery/ipv4_address.h"

namespace lanrove::ui {

std::int64_t numberOfText(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate as a negative number so that the most negative value still fits.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const int digit = text[i] - u'0';
        if (value < (kMin + digit) / 10) {
            saturated = true;
            break;
        }
        value = value * 10 - digit;
    }
    if (saturated) return negative ? kMin : std::numeric_limits<std::int64_t>::max();
    if (negative) return value;
    return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

std::uint32_t addressOfText(std::u16string_view text) {
    return ipv4::fromText(text);
}

int compareCells(int column, std::u16string_view a, std::u16string_view b) {
    if (column == kColNo) {
        const std::int64_t x = numberOfText(a);
        const std::int64_t y = numberOfText(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (column == kColIp) {
        const std::uint32_t x = addressOfText(a);
        const std::uint32_t y = addressOfText(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::vector<int> sortOrder(const CameraListModel& list, int column, bool ascending) {
    std::vector<int> order(static_cast<std::size_t>(list.rowCount()));
    std::iota(order.begin(), order.end(), 0);
    if (column < 0 || column >= CameraListModel::columnCount()) return order;
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        const int c = compareCells(column, list.cell(x, column), list.cell(y, column));
        return ascending ? c < 0 : c > 0;
    });
    return order;
}

}  // namespace lanrove::ui
