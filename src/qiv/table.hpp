// table.hpp - the tables qiv prints: columns two spaces apart, each as wide as its widest cell
#pragma once

#include "qiv/utf8.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace qiv {

// The lines of `rows` (cells already shown()), each ending in "\n": a cell
// padded with spaces to its column's width in terminal columns, on the left
// where `right_aligned[c]`, else on the right except in the last column.
inline std::string aligned_table(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right_aligned) {
    std::vector<std::size_t> widths(right_aligned.size());
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], columns_of(row[c]));
    std::string text;
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - columns_of(row[c]), ' ');
            if (c > 0) text += "  ";
            text += right_aligned[c] ? pad + row[c] : c + 1 < row.size() ? row[c] + pad : row[c];
        }
        text += '\n';
    }
    return text;
}

}  // namespace qiv
