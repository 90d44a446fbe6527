#pragma once

#include "model/Control.h"

namespace vk9 {

// The row of a control table that belongs to a control, or nullptr.
template <class Table>
constexpr const typename Table::value_type* findRow(const Table& table, Control id) {
    for (const auto& row : table) {
        if (row.id == id) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace vk9
