// A link drawn as underlined text with a hand cursor; it lights up under the
// mouse and opens its address with the desktop's opener when clicked.
#pragma once

#include <QAbstractButton>
#include <QUrl>

namespace kestrum::ui {

class CURLLinkButton : public QAbstractButton {
    Q_OBJECT
public:
    CURLLinkButton(const QString& text, const QUrl& url, QWidget* parent = nullptr);

    const QUrl& url() const { return url_; }
    bool isHovered() const { return hovered_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QUrl url_;
    bool hovered_ = false;
};

}  // namespace kestrum::ui
