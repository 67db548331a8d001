#pragma once

#include "ui/sheet_dialog.hpp"

#include <cstdint>

namespace vellico::ui {

// After the analysis of a library whose cache lives outside it: both sizes
// and a note that the cache is not cleaned here. One button, "OK", the
// default (Return); Escape does nothing.
class CacheInfoSheet : public SheetDialog {
    Q_OBJECT

public:
    CacheInfoSheet(std::int64_t reclaimableSize, std::int64_t cacheTotalSize,
                   QWidget* parent = nullptr);

signals:
    void dismissed();
};

} // namespace vellico::ui
