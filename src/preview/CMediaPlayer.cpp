#include "preview/CMediaPlayer.h"

#include <QAudioOutput>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <algorithm>

#include "preview/MediaLength.h"

namespace kestrum {
namespace {

QString clockText(qint64 ms) {
    const qint64 s = ms / 1000;
    return QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
}

// A file that ends where its container says it does.
class LimitedFile : public QFile {
public:
    LimitedFile(const QString& path, qint64 limit) : QFile(path), limit_(limit) {}
    qint64 size() const override { return std::min(QFile::size(), limit_); }
    bool atEnd() const override { return pos() >= size(); }

protected:
    qint64 readData(char* data, qint64 most) override {
        most = std::min(most, limit_ - pos());
        return most <= 0 ? 0 : QFile::readData(data, most);
    }

private:
    qint64 limit_;
};

}  // namespace

CMediaPlayer::CMediaPlayer(QWidget* parent)
    : QWidget(parent),
      player_(new QMediaPlayer(this)),
      audio_(new QAudioOutput(this)),
      video_(new QVideoWidget(this)),
      playButton_(new QPushButton(this)),
      stopButton_(new QPushButton(this)),
      position_(new QSlider(Qt::Horizontal, this)),
      time_(new QLabel(this)) {
    setObjectName("mediaPlayer");
    video_->setObjectName("videoArea");
    playButton_->setObjectName("playButton");
    stopButton_->setObjectName("stopButton");
    position_->setObjectName("positionSlider");
    time_->setObjectName("timeText");
    player_->setAudioOutput(audio_);
    player_->setVideoOutput(video_);

    // A dark video area as a player has, and its transport row beneath.
    QPalette dark = video_->palette();
    dark.setColor(QPalette::Window, Qt::black);
    video_->setPalette(dark);
    video_->setAutoFillBackground(true);
    playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    stopButton_->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    playButton_->setToolTip("Play");
    stopButton_->setToolTip("Stop");
    for (QPushButton* b : {playButton_, stopButton_}) {
        b->setFixedSize(26, 22);
        b->setFocusPolicy(Qt::NoFocus);
    }
    position_->setFocusPolicy(Qt::NoFocus);
    time_->setMinimumWidth(64);
    time_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* transport = new QHBoxLayout;
    transport->setContentsMargins(4, 2, 4, 2);
    transport->setSpacing(4);
    transport->addWidget(playButton_);
    transport->addWidget(stopButton_);
    transport->addWidget(position_, 1);
    transport->addWidget(time_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(video_, 1);
    column->addLayout(transport);
    setAutoFillBackground(true);

    connect(playButton_, &QPushButton::clicked, this, [this] {
        if (player_->playbackState() == QMediaPlayer::PlayingState)
            player_->pause();
        else
            player_->play();
    });
    connect(stopButton_, &QPushButton::clicked, player_, &QMediaPlayer::stop);
    connect(position_, &QSlider::sliderMoved, player_, &QMediaPlayer::setPosition);
    connect(player_, &QMediaPlayer::durationChanged, this, [this](qint64 d) {
        position_->setRange(0, static_cast<int>(d));
        updateTransport();
    });
    connect(player_, &QMediaPlayer::positionChanged, this, [this](qint64 p) {
        if (!position_->isSliderDown()) position_->setValue(static_cast<int>(p));
        updateTransport();
    });
    connect(player_, &QMediaPlayer::playbackStateChanged, this, [this] { updateTransport(); });
    updateTransport();
}

CMediaPlayer::~CMediaPlayer() {
    // The player lets go of the device before the device goes.
    player_->setSource(QUrl());
}

void CMediaPlayer::updateTransport() {
    const bool playing = player_->playbackState() == QMediaPlayer::PlayingState;
    playButton_->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    time_->setText(clockText(player_->position()) + " / " + clockText(player_->duration()));
}

void CMediaPlayer::setUiMode(const QString& mode) {
    if (mode == "Invisible")
        hide();
    else if (mode == "Full")
        show();
    else
        return;
    mode_ = mode;
}

void CMediaPlayer::close() {
    player_->stop();
    player_->setSource(QUrl());
    device_.reset();
    url_.clear();
}

void CMediaPlayer::setUrl(const QString& path) {
    player_->setSource(QUrl());
    device_.reset();
    url_ = path;
    if (path.isEmpty()) return;
    const QUrl url = QUrl::fromLocalFile(path);
    if (const auto length = declaredMediaLength(path.toStdString())) {
        auto file = std::make_unique<LimitedFile>(path, static_cast<qint64>(*length));
        if (file->open(QIODevice::ReadOnly)) {
            device_ = std::move(file);
            player_->setSourceDevice(device_.get(), url);
            return;
        }
    }
    player_->setSource(url);
}

void CMediaPlayer::play() {
    ++playRequests_;
    player_->play();
}

void CMediaPlayer::stop() {
    player_->stop();
}

}  // namespace kestrum
