#pragma once

#include <QDialog>
#include <memory>
#include <optional>

class QSpinBox;

namespace ombrix::admin {

// "General": the administrative view's update interval in seconds.
class IntervalDialog : public QDialog {
  public:
    static constexpr int kDefaultSeconds = 30;
    static constexpr int kMinSeconds = 1;
    static constexpr int kMaxSeconds = 3600;

    IntervalDialog(QWidget* parent, int seconds);

    static std::unique_ptr<IntervalDialog> make(QWidget* parent, int seconds);
    // Runs it modally: the interval accepted, nothing when it was cancelled.
    static std::optional<int> edit(QWidget* parent, int seconds);

    int seconds() const;
    QSpinBox* field() const { return field_; }

  private:
    QSpinBox* field_ = nullptr;
};

}  // namespace ombrix::admin
