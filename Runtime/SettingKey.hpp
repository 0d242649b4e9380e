#pragma once

#include <string_view>
#include <variant>

#include "Runtime/SettingRow.hpp"

namespace quib {

// A typed handle on one row of the settings table: `Settings::get` reads the row's key by the
// row's rule, so what a reader gets, and what it is given when nothing acceptable is stored, is
// decided by the row alone. It passes for its key where a key is asked for (writes, tests).
template <class Rule>
class SettingKey {
public:
    explicit constexpr SettingKey(const SettingRow& row) : row_(&row) {}

    constexpr std::string_view key() const { return row_->key; }
    constexpr operator std::string_view() const { return row_->key; }
    constexpr const Rule& rule() const { return std::get<Rule>(row_->rule); }
    constexpr const SettingRow& row() const { return *row_; }

private:
    const SettingRow* row_;
};

}  // namespace quib
