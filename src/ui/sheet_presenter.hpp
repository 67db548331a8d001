#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace vellico::viewmodel {
class MainViewModel;
}

namespace vellico::ui {

class SheetDialog;

// Shows the sheet the view model asks for, over `parent`, and wires its
// answer back to the view model: one sheet at a time, the previous one
// dismissed first.
class SheetPresenter : public QObject {
    Q_OBJECT
public:
    SheetPresenter(viewmodel::MainViewModel& viewModel, QWidget* parent);

    // The view model's active sheet, shown; none shown when it has none.
    void present();
    // Dismisses the sheet on screen, if any.
    void close();

    SheetDialog* current() const { return m_sheet; }

private:
    SheetDialog* makeSheet();

    viewmodel::MainViewModel& m_viewModel;
    QWidget* m_parent;
    QPointer<SheetDialog> m_sheet;
};

} // namespace vellico::ui
