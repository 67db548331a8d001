#pragma once

#include "ui/sheet_dialog.hpp"

namespace vellico::ui {

// The library lives in the cloud drive, downloaded or not: go on (true) or
// stop (false). No default button; Ctrl+Esc stops.
class ICloudSheet : public SheetDialog {
    Q_OBJECT

public:
    ICloudSheet(const QString& libraryName, bool isDownloaded, QWidget* parent = nullptr);

signals:
    void responded(bool goOn);
};

} // namespace vellico::ui
