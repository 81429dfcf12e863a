#include "RdpOptionsDialog.h"

#include "RdpClientContext.h"
#include "RdpDesktopWidget.h"
#include "RdpInstance.h"
#include "RdpLogging.h"
#include "RdpMainWidget.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QVBoxLayout>

namespace {

const QString ManualKey = QStringLiteral("Manual");
const QString CompressionKey = QStringLiteral("Compression");
const QString FpsKey = QStringLiteral("Fps");
const QString FrameAckKey = QStringLiteral("FrameAck");
const QString CompressionMaxKey = QStringLiteral("CompressionMax");
const QString FpsMaxKey = QStringLiteral("FpsMax");

QSlider* addSlider(QWidget* box, const QString& name, int minimum, int maximum)
{
    auto* slider = new QSlider(Qt::Horizontal, box);
    slider->setObjectName(name);
    slider->setRange(minimum, maximum);
    return slider;
}

QLabel* addLabel(QWidget* box, const QString& name, const QString& text)
{
    auto* label = new QLabel(text, box);
    label->setObjectName(name);
    return label;
}

QJsonObject parseObject(const QString& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    return document.isObject() ? document.object() : QJsonObject();
}

} // namespace

RdpOptionsDialog::RdpOptionsDialog(RdpClientContext* context, const QString& remoteHost,
                                   const QString& sessionId, QWidget* parent)
    : QDialog(parent)
    , m_context(context)
    , m_remoteHost(remoteHost)
    , m_sessionId(sessionId)
{
    setWindowTitle(QStringLiteral("Form"));
    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));

    m_updateBox = new QGroupBox(tr("Change Update Settings"), this);
    m_updateBox->setObjectName(QStringLiteral("UpdateBox"));
    m_updateBox->setCheckable(true);
    m_updateBox->setChecked(false);
    m_compressionLabel = addLabel(m_updateBox, QStringLiteral("CompressionLabel"), tr("Image Quality: Highest"));
    m_qualitySlider = addSlider(m_updateBox, QStringLiteral("QualitySlider"), 0, 3);
    m_qualitySlider->setValue(3);
    m_qualitySlider->setPageStep(1);
    m_fpsLabel = addLabel(m_updateBox, QStringLiteral("FpsLabel"), tr("Frame Rate: 60 fps"));
    m_fpsSlider = addSlider(m_updateBox, QStringLiteral("FpsSlider"), 1, 60);
    m_fpsSlider->setValue(60);
    auto* updateLayout = new QVBoxLayout(m_updateBox);
    for (QWidget* widget : {static_cast<QWidget*>(m_compressionLabel), static_cast<QWidget*>(m_qualitySlider),
                            static_cast<QWidget*>(m_fpsLabel), static_cast<QWidget*>(m_fpsSlider)})
        updateLayout->addWidget(widget);
    grid->addWidget(m_updateBox, 0, 0);

    m_algorithmBox = new QGroupBox(this);
    m_algorithmBox->setObjectName(QStringLiteral("AlgorithmBox"));
    m_frameAckLabel = addLabel(m_algorithmBox, QStringLiteral("FrameAckLabel"), tr("Frame Window: Off"));
    m_frameAckSlider = addSlider(m_algorithmBox, QStringLiteral("FrameAckSlider"), 0, 60);
    auto* algorithmLayout = new QVBoxLayout(m_algorithmBox);
    algorithmLayout->addWidget(m_frameAckLabel);
    algorithmLayout->addWidget(m_frameAckSlider);
    grid->addWidget(m_algorithmBox, 1, 0);

    m_localBox = new QGroupBox(this);
    m_localBox->setObjectName(QStringLiteral("LocalBox"));
    m_scaleSlider = addSlider(m_localBox, QStringLiteral("ScaleSlider"), 0, 2);
    m_scaleSlider->setValue(1);
    m_scaleSlider->setPageStep(1);
    m_scaleLabel = addLabel(m_localBox, QStringLiteral("ScaleLabel"), tr("Zoom: 1x"));
    auto* localLayout = new QVBoxLayout(m_localBox);
    localLayout->addWidget(m_scaleSlider);
    localLayout->addWidget(m_scaleLabel);
    grid->addWidget(m_localBox, 2, 0);

    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    grid->addWidget(m_buttonBox, 5, 0);
    resize(350, 408);

    QMetaObject::connectSlotsByName(this);
    // Enabled by the server's first report.
    m_updateBox->setEnabled(false);
    m_algorithmBox->setEnabled(false);
    m_scaleSlider->setValue(positionFromScale(m_context->scale));
    // Only the user's actions send: programmatic value changes emit no actionTriggered.
    connect(m_updateBox, &QGroupBox::clicked, this, &RdpOptionsDialog::sendUiValues);
    for (QSlider* slider : {m_qualitySlider, m_fpsSlider, m_frameAckSlider})
        connect(slider, &QAbstractSlider::actionTriggered, this, &RdpOptionsDialog::sendUiValues);
}

int RdpOptionsDialog::frameWindowFromPosition(int position, int maximum)
{
    return position <= 0 ? 0 : maximum + 1 - position;
}

int RdpOptionsDialog::positionFromFrameWindow(int frameWindow, int maximum)
{
    return frameWindow > 0 ? maximum - frameWindow + 1 : 0;
}

double RdpOptionsDialog::scaleFromPosition(int position)
{
    return position == 0 ? 0.5 : position == 2 ? 2.0 : 1.0;
}

int RdpOptionsDialog::positionFromScale(double scale)
{
    return scale == 0.5 ? 0 : scale == 2.0 ? 2 : 1;
}

void RdpOptionsDialog::handleOptionsUpdated(const QString& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return;
    const QJsonObject options = document.object();
    const bool firstReport = !m_updateBox->isEnabled();
    if (firstReport)
        m_connectFrameAcknowledge = freerdp_settings_get_uint32(m_context->rdp()->settings, FreeRDP_FrameAcknowledge);
    const QJsonValue throttle = options.value(QStringLiteral("BandwidthThrottleAdjust"));
    if (throttle.isBool())
        m_manual = !throttle.toBool();
    const auto readInt = [&](const char* key, int* out) {
        const QJsonValue value = options.value(QLatin1String(key));
        if (value.isDouble())
            *out = value.toInt();
        return value.isDouble();
    };
    readInt("Compression", &m_compression);
    readInt("FPSLimit", &m_fps);
    if (readInt("FrameAcknowledgeWindow", &m_frameWindow))
        applyFrameWindow(m_frameWindow);
    int maximum = 0;
    if (readInt("CompressionMax", &maximum) && maximum >= 0)
        m_qualitySlider->setMaximum(maximum);
    if (readInt("FPSLimitMax", &maximum) && maximum >= 1)
        m_fpsSlider->setMaximum(maximum);
    if (firstReport)
        syncSavedValues();
    updateUi();
}

void RdpOptionsDialog::applyFrameWindow(int frameWindow)
{
    // The client acknowledges frames with the reported window. Off keeps the
    // window announced at connect: the server was told that this client
    // acknowledges, and would stop sending frames if it no longer did.
    const unsigned window = frameWindow > 0 ? unsigned(frameWindow) : m_connectFrameAcknowledge;
    freerdp_settings_set_uint32(m_context->rdp()->settings, FreeRDP_FrameAcknowledge, window);
}

void RdpOptionsDialog::handleSetOptionsResponse(const QString& text)
{
    const QJsonObject response = parseObject(text);
    if (!response.contains(QStringLiteral("success")) && response.contains(QStringLiteral("error")))
        updateUi();
}

void RdpOptionsDialog::updateUi()
{
    m_updateBox->setChecked(m_manual);
    m_qualitySlider->setValue(m_qualitySlider->maximum() - m_compression);
    m_fpsSlider->setValue(m_fps);
    m_frameAckSlider->setValue(positionFromFrameWindow(m_frameWindow, m_frameAckSlider->maximum()));
    m_updateBox->setEnabled(true);
    m_algorithmBox->setEnabled(true);
}

void RdpOptionsDialog::syncSavedValues()
{
    QSettings store;
    store.beginGroup(QStringLiteral("%1-Perf").arg(m_remoteHost));
    const bool manual = store.value(ManualKey, m_manual).toBool();
    const int compression = store.value(CompressionKey, m_compression).toInt();
    const int fps = store.value(FpsKey, m_fps).toInt();
    const int frameWindow = store.value(FrameAckKey, m_frameWindow).toInt();
    const int compressionMax = store.value(CompressionMaxKey, m_qualitySlider->maximum()).toInt();
    const int fpsMax = store.value(FpsMaxKey, m_fpsSlider->maximum()).toInt();
    store.endGroup();
    const bool differs = manual != m_manual || compression != m_compression || fps != m_fps
                      || frameWindow != m_frameWindow;
    // Saved values only mean the same on a server that offers the same ranges.
    if (differs && compressionMax == m_qualitySlider->maximum() && fpsMax == m_fpsSlider->maximum())
        sendOptions(manual, compression, fps, frameWindow);
}

void RdpOptionsDialog::sendUiValues()
{
    // Slider positions, not values: actionTriggered comes before the value follows.
    const bool manual = m_updateBox->isChecked();
    const int compression = m_qualitySlider->maximum() - m_qualitySlider->sliderPosition();
    const int fps = m_fpsSlider->sliderPosition();
    const int frameWindow = frameWindowFromPosition(m_frameAckSlider->sliderPosition(), m_frameAckSlider->maximum());
    sendOptions(manual, compression, fps, frameWindow);
    if (m_remoteHost.isEmpty())
        return;
    QSettings store;
    store.beginGroup(QStringLiteral("%1-Perf").arg(m_remoteHost));
    store.setValue(ManualKey, manual);
    store.setValue(CompressionKey, compression);
    store.setValue(FpsKey, fps);
    store.setValue(FrameAckKey, frameWindow);
    store.setValue(CompressionMaxKey, m_qualitySlider->maximum());
    store.setValue(FpsMaxKey, m_fpsSlider->maximum());
    store.endGroup();
}

void RdpOptionsDialog::sendOptions(bool manual, int compression, int fps, int frameWindow)
{
    QJsonObject options;
    options.insert(QStringLiteral("BandwidthThrottleAdjust"), !manual);
    if (manual) {
        options.insert(QStringLiteral("Compression"), compression);
        options.insert(QStringLiteral("FPSLimit"), fps);
    }
    options.insert(QStringLiteral("FrameAcknowledgeWindow"), frameWindow);
    const QByteArray text = QJsonDocument(options).toJson(QJsonDocument::Compact);
    QzcfgClientContext* qzcfg = m_context->qzcfg;
    if (!qzcfg || !qzcfg->SendOptions)
        return;
    qCDebug(lcRdp) << "sending options" << text;
    qzcfg->SendOptions(qzcfg, text.constData());
}

void RdpOptionsDialog::on_QualitySlider_valueChanged(int value)
{
    const int maximum = m_qualitySlider->maximum();
    QString word;
    if (value == maximum)
        word = tr("Highest");
    else if (value == 0)
        word = tr("Very Low");
    else if (2 * value > maximum)
        word = tr("Higher");
    else if (2 * value == maximum)
        word = tr("Medium");
    else
        word = tr("Lower");
    m_compressionLabel->setText(tr("Image Quality: %1").arg(word));
}

void RdpOptionsDialog::on_FpsSlider_valueChanged(int value)
{
    m_fpsLabel->setText(tr("Frame Rate: %1 fps").arg(value));
}

void RdpOptionsDialog::on_FrameAckSlider_valueChanged(int value)
{
    const QString window = value < 1 ? tr("Off")
                                     : tr("%1 frames").arg(frameWindowFromPosition(value, m_frameAckSlider->maximum()));
    m_frameAckLabel->setText(tr("Frame Window: %1").arg(window));
}

void RdpOptionsDialog::on_ScaleSlider_actionTriggered()
{
    const double scale = scaleFromPosition(m_scaleSlider->sliderPosition());
    m_context->scale = scale;
    m_context->inverseScale = 1.0 / scale;
    if (m_context->instance)
        m_context->instance->applyScale();
    if (m_sessionId.isEmpty())
        return;
    QSettings store;
    store.beginGroup(QStringLiteral("%1-Settings").arg(m_sessionId));
    store.setValue(QStringLiteral("ScalingFactor"), scale);
    store.endGroup();
}

void RdpOptionsDialog::on_ScaleSlider_valueChanged(int value)
{
    const QString zoom = value == 0 ? QStringLiteral("2x") : value == 2 ? QStringLiteral("0.5x") : QStringLiteral("1x");
    m_scaleLabel->setText(tr("Zoom: %1").arg(zoom));
}
