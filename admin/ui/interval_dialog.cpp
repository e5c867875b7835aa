#include "admin/ui/interval_dialog.h"
#include "platform/ui/dialog_buttons.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace ombrix::admin {

IntervalDialog::IntervalDialog(QWidget* parent, int seconds) : QDialog(parent) {
    setObjectName("intervalDialog");
    setWindowTitle("General");

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    field_ = new QSpinBox(this);
    field_->setObjectName("interval");
    field_->setRange(kMinSeconds, kMaxSeconds);
    field_->setValue(std::clamp(seconds, kMinSeconds, kMaxSeconds));
    auto* label = new QLabel("&Update interval (in s)", this);
    label->setBuddy(field_);
    form->addRow(label, field_);
    layout->addLayout(form);

    layout->addWidget(ui::okCancelButtons(this));
    field_->selectAll();
}

std::unique_ptr<IntervalDialog> IntervalDialog::make(QWidget* parent, int seconds) {
    return std::make_unique<IntervalDialog>(parent, seconds);
}

std::optional<int> IntervalDialog::edit(QWidget* parent, int seconds) {
    auto dialog = make(parent, seconds);
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    return dialog->seconds();
}

int IntervalDialog::seconds() const {
    return field_->value();
}

}  // namespace ombrix::admin
