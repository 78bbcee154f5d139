// The media side of the preview area, on Qt Multimedia: a player that can hide
// itself ("Invisible"), show its video area and transport controls ("Full"),
// let go of its file, open a path, play and stop.
#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class QAudioOutput;
class QIODevice;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QSlider;
class QVideoWidget;

namespace kestrum {

class CMediaPlayer : public QWidget {
    Q_OBJECT
public:
    explicit CMediaPlayer(QWidget* parent = nullptr);
    ~CMediaPlayer() override;

    // "Invisible" hides the whole player; "Full" shows the video area and the
    // transport controls. Other texts are ignored.
    void setUiMode(const QString& mode);
    QString uiMode() const { return mode_; }

    // Lets go of the open file, so it can be deleted and written again.
    void close();
    // Opens the file (the URL property). A WAV or MIDI copy longer than its
    // container says is played up to that length.
    void setUrl(const QString& path);
    QString url() const { return url_; }
    void play();
    void stop();

    // What the page asked for, counted: tests and diagnostics look at these.
    int playRequests() const { return playRequests_; }
    QMediaPlayer* mediaPlayer() const { return player_; }

private:
    void updateTransport();

    QMediaPlayer* player_;
    QAudioOutput* audio_;
    QVideoWidget* video_;
    QPushButton* playButton_;
    QPushButton* stopButton_;
    QSlider* position_;
    QLabel* time_;
    QString mode_ = "Full";
    QString url_;
    std::unique_ptr<QIODevice> device_;
    int playRequests_ = 0;
};

}  // namespace kestrum
