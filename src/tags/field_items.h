// SPDX-License-Identifier: GPL-3.0-or-later
// What a read found for the fields, kept so that a save changes only what
// the user changed. A component records every item of its tag in file order
// (with the field it stands for, if any) and the value it gave each field;
// a save then keeps the items of every field whose value is still the one
// read, byte for byte, and replaces all items of a changed field by one new
// item under the standard key. An empty value writes no item.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tags/tag_model.h"

namespace sondrel {

// The text shown for several values of one field: each distinct value once,
// in file order, joined by " / "; empty values are left out.
std::string JoinFieldValues(std::span<const std::string> values);

template <typename Item>
class FieldItems {
public:
    struct Entry {
        std::optional<Field> field;  // nullopt for an item no field owns
        Item item;
    };

    void Clear() {
        entries_.clear();
        read_ = {};
    }
    void Add(std::optional<Field> field, Item item) {
        entries_.push_back(Entry{field, std::move(item)});
    }
    // The value the read gave `field` (what the hub was offered).
    void SetRead(Field field, std::string value) { read_[field] = std::move(value); }
    const std::string& Read(Field field) const { return read_[field]; }
    bool Changed(Field field, std::string_view now) const { return read_[field] != now; }

    const std::vector<Entry>& Entries() const { return entries_; }
    bool Holds(Field field) const {
        for (const Entry& e : entries_)
            if (e.field == field)
                return true;
        return false;
    }

    // Walks what a save writes, in order: `keep(entry)` for every item of
    // no field or of an unchanged field; `write(field, value)` for a changed
    // field with a value, in the place of its first old item, or (a field
    // the read did not find) after all of them in the order of `order`.
    // `now(field)` gives the value to save.
    template <typename Now, typename Keep, typename Write>
    void Plan(std::span<const Field> order, Now&& now, Keep&& keep, Write&& write) const {
        PerField<bool> done{};
        for (const Entry& e : entries_) {
            if (!e.field || !Changed(*e.field, now(*e.field))) {
                keep(e);
                continue;
            }
            if (done[*e.field])
                continue;
            done[*e.field] = true;
            if (const std::string& value = now(*e.field); !value.empty())
                write(*e.field, value);
        }
        for (const Field f : order) {
            if (done[f] || Holds(f))
                continue;
            done[f] = true;
            if (const std::string& value = now(f); !value.empty() && Changed(f, value))
                write(f, value);
        }
    }

private:
    std::vector<Entry> entries_;
    PerField<std::string> read_;
};

}  // namespace sondrel
