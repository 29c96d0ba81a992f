#pragma once

#include "archive/unzip_prompts.h"

class QWidget;

// An extraction's questions in message boxes over `parent`.
class GuiUnzipPrompts : public UnzipPrompts {
public:
    explicit GuiUnzipPrompts(QWidget* parent) : parent_(parent) {}
    QString password(const QString& memberName) override;
    ReplaceAnswer replace(const QString& path) override;

private:
    QWidget* parent_;
};
