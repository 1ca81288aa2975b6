// The engine's status panel: a label the compressor writes its progress captions into.
#pragma once

#include <QLabel>

#include "compress/LZRW1.h"

class TCompressorPanel : public QLabel, public TLzrw1Host {
    Q_OBJECT
public:
    explicit TCompressorPanel(QWidget* Parent = nullptr);

    bool Visible() const override;
    void SetCaption(const std::string& Caption) override;
    void Repaint() override;
    void ProcessMessages() override;
};
