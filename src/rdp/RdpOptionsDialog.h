#pragma once

#include <QDialog>
#include <QString>

class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QSlider;
struct RdpClientContext;

// The user's view of the server's screen-update options (image quality,
// frame rate, frame acknowledgement window) and of the local zoom. The
// widgets follow the server's reports; only the user's actions send changes.
// Choices are remembered per remote host and the zoom per session.
class RdpOptionsDialog : public QDialog
{
    Q_OBJECT

public:
    RdpOptionsDialog(RdpClientContext* context, const QString& remoteHost, const QString& sessionId,
                     QWidget* parent = nullptr);

    // The options report of the server (JSON text).
    void handleOptionsUpdated(const QString& text);
    // The server's answer to the last change (JSON text).
    void handleSetOptionsResponse(const QString& text);

    // Frame window in frames (0: off) for a frame-window slider position, and back.
    static int frameWindowFromPosition(int position, int maximum);
    static int positionFromFrameWindow(int frameWindow, int maximum);
    static double scaleFromPosition(int position);
    static int positionFromScale(double scale);

private slots:
    void syncSavedValues();
    void sendUiValues();
    void on_QualitySlider_valueChanged(int value);
    void on_FpsSlider_valueChanged(int value);
    void on_FrameAckSlider_valueChanged(int value);
    void on_ScaleSlider_actionTriggered();
    void on_ScaleSlider_valueChanged(int value);

private:
    void sendOptions(bool manual, int compression, int fps, int frameWindow);
    void updateUi();
    void applyFrameWindow(int frameWindow);

    RdpClientContext* m_context;
    QString m_remoteHost;
    QString m_sessionId;
    // The server's last reported values.
    bool m_manual = false;
    int m_compression = 0;
    int m_fps = 0;
    int m_frameWindow = 0;
    // The acknowledgement window the client announced when it connected.
    unsigned m_connectFrameAcknowledge = 0;

    QGroupBox* m_updateBox;
    QLabel* m_compressionLabel;
    QSlider* m_qualitySlider;
    QLabel* m_fpsLabel;
    QSlider* m_fpsSlider;
    QGroupBox* m_algorithmBox;
    QLabel* m_frameAckLabel;
    QSlider* m_frameAckSlider;
    QGroupBox* m_localBox;
    QSlider* m_scaleSlider;
    QLabel* m_scaleLabel;
    QDialogButtonBox* m_buttonBox;
};
