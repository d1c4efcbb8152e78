#pragma once
// The camera list's sort rules: No. compares as 64-bit decimal numbers, the IP address as an
// unsigned 32-bit address, every other column as exact, case-sensitive text.

#include <cstdint>
#include <string_view>
#include <vector>

#include "discovery/camera_list_model.h"

namespace lanrove::ui {

// Leading blanks, an optional sign and the decimal digits that follow; 0 when there are none.
// Values beyond the 64-bit range saturate.
std::int64_t numberOfText(std::u16string_view text);
// The dotted address as a host-order number; a text that is no address gives 0xFFFFFFFF.
std::uint32_t addressOfText(std::u16string_view text);

// <0, 0 or >0 as `a` sorts before, with or after `b` in `column`, ascending.
int compareCells(int column, std::u16string_view a, std::u16string_view b);

// The new row order (new row i is old row order[i]) that sorts `list` by `column`. Rows with
// equal keys keep their order.
std::vector<int> sortOrder(const CameraListModel& list, int column, bool ascending);

}  // namespace lanrove::ui
