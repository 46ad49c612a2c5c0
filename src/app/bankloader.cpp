#include "bankloader.h"

#include "banks/imageroutines.h"
#include "banks/picture.h"
#include "banks/upload.h"
#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicesession.h"
#include "outcomes.h"
#include "picturefolder.h"
#include "settings/names.h"
#include "state/appstate.h"
#include "util/seams.h"
#include "util/textutil.h"
#include "widgets.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace qx {

namespace {
constexpr int kFramingWidth = 1395; // twips, the 100 % width of the progress bar
constexpr int kBarHeight = 435;    // twips; pages place their controls in designed pixels, whatever the scale
}

BankLoader::BankLoader(QWidget *window, QWidget *frame, AppState &state, DeviceSession &session, CommLog &log,
                       const PictureFolderBox &pictures)
    : QObject(window), m_state(state), m_session(session), m_exchange(session.exchange()), m_log(log),
      m_pictures(pictures)
{
    QWidget *w = window;
    for (int i = 0; i < 4; ++i) {
        optBANK[size_t(i)] = MakeOption(w, frame, QStringLiteral("optBANK"), QStringLiteral("Bank %1").arg(i + 1),
                                        QRect(7440, 720 + i * 420, 1575, 375), i);
    }
    optBANK[0]->setChecked(true);
    for (int i = 0; i < 4; ++i) {
        txtLOADED[size_t(i)] = MakeLabel(w, frame, QStringLiteral("txtLOADED"), QStringLiteral("-"),
                                         QRect(9120, 750 + i * 420, 2200, 315), i);
    }
    cmdLOAD = MakeButton(w, frame, QStringLiteral("cmdLOAD"), QStringLiteral("Load image to selected bank"),
                         QRect(7440, 2520, 3855, 495));
    boxFRAMING = new QFrame(frame);
    RegisterControl(w, boxFRAMING, QStringLiteral("boxFRAMING"), ControlKind::Shape);
    boxFRAMING->setGeometry(twRect(7800, 3600, kFramingWidth, kBarHeight));
    boxFRAMING->setFrameShape(QFrame::Box);
    boxPROGRESS = new QFrame(frame);
    RegisterControl(w, boxPROGRESS, QStringLiteral("boxPROGRESS"), ControlKind::Shape);
    boxPROGRESS->setGeometry(twRect(7800, 3600, 1, kBarHeight));
    SetBackColor(boxPROGRESS, QColor(128, 128, 128));
    txtPROGRESS = MakeLabel(w, frame, QStringLiteral("txtPROGRESS"), QStringLiteral("0%"), QRect(7920, 3720, 1155, 195));
    txtPROGRESS->setAlignment(Qt::AlignCenter);
    txtJOB = MakeLabel(w, frame, QStringLiteral("txtJOB"), QStringLiteral("-"), QRect(7740, 4080, 1575, 375));
    txtJOB->setAlignment(Qt::AlignCenter);
    labTECHINFO = MakeLabel(w, frame, QStringLiteral("labTECHINFO"), QString(), QRect(9300, 3600, 1575, 435));
    for (QWidget *c : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        c->hide();
    txtPROGRESS->raise();

    connect(cmdLOAD, &QPushButton::clicked, this, &BankLoader::LoadImageJob);
}

void BankLoader::setUpDesign(const QColor &back)
{
    SetBackColor(cmdLOAD, back);
    cmdLOAD->setEnabled(false);
}

void BankLoader::showNames(const QColor &back)
{
    const Settings &s = m_state.settings;
    for (int n = 1; n <= kBanks; ++n) {
        SetBackColor(optBANK[size_t(n - 1)], back);
        txtLOADED[size_t(n - 1)]->setText(s.BankFileLoaded[size_t(n)]);
        SetNameCaption(optBANK[size_t(n - 1)], s.BankName[size_t(n)]);
    }
}

void BankLoader::setBankName(int bank, const QString &name)
{
    SetNameCaption(optBANK[size_t(bank)], name);
}

void BankLoader::selectBank(int bank)
{
    optBANK[size_t(bank)]->setChecked(true);
}

void BankLoader::setLoadable(bool loadable)
{
    cmdLOAD->setEnabled(loadable);
}

BankLoader::LoadOutcome BankLoader::runFromCommandLine(bool confirm)
{
    cmdLOAD->setEnabled(true);
    m_commandLineRun = !confirm;
    LoadImageJob();
    m_commandLineRun = false;
    return m_lastOutcome;
}

void BankLoader::forgetCutLoad()
{
    if (m_running)
        m_state.settings.BankFileLoaded[size_t(m_bank + 1)].clear();
}

void BankLoader::LoadImageJob()
{
    CommandExchange &ex = m_exchange;
    const MessageTable &msg = m_state.msg;

    // A click while a job runs is the stop button.
    if (m_running) {
        if (MessageBox(msg(9), msg(8), true))
            ex.StopRequested = true;
        return;
    }
    if (!m_commandLineRun && !MessageBox(msg(23), msg(15), true)) {
        ex.StopRequested = true;
        m_lastOutcome = LoadOutcome::Cancelled;
        return;
    }

    if (m_state.settings.ShowLog)
        m_log.clearList();
    m_log.resetCount();
    ex.StopRequested = false;
    m_running = true;
    int bank = 0;
    for (int i = 0; i < 4; ++i)
        if (optBANK[size_t(i)]->isChecked())
            bank = i;
    m_bank = bank;

    for (QWidget *w : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        w->show();
    boxPROGRESS->resize(1, tw(kBarHeight)); // one pixel: the narrowest bar there is
    const QString caption = cmdLOAD->text();
    cmdLOAD->setText(msg(7));

    for (QRadioButton *b : optBANK)
        b->setEnabled(false);
    Q_EMIT runningChanged(true);

    txtJOB->setText(msg(1));
    txtPROGRESS->clear();
    QCoreApplication::processEvents();

    const qint32 width = m_pictures.imageWidth(), height = m_pictures.imageHeight();
    const QByteArray image = ConvertPixels(CapturePixels(m_pictures.picture(), width, height), width, height);
    UploadDisplay display;
    display.txtJOB = [this](const QString &text) { txtJOB->setText(text); };
    display.ShowProgress = [this](int percent) {
        boxPROGRESS->resize(std::max(1, tw(ProgressBarWidth(kFramingWidth, percent))), tw(kBarHeight));
        txtPROGRESS->setText(ProgressText(percent));
    };
    display.labTECHINFO = [this](const QString &text) { labTECHINFO->setText(text); };
    display.lab = [this](const QString &text) { Q_EMIT technicalInfo(text); };
    // The link is the job's until the upload is over; the outcome's box no longer holds it.
    const UploadOutcome outcome = [&] {
        const DeviceSession::Lease lease = m_session.lease();
        return UploadImage(ex, msg, image, width, height, bank, display);
    }();
    ShowUploadOutcome(outcome, msg);

    QString name = m_pictures.previewedFile();
    SplitPath(name);
    if (ex.StopRequested || outcome != UploadOutcome::Done)
        name.clear();
    txtLOADED[size_t(bank)]->setText(name);
    m_state.settings.BankFileLoaded[size_t(bank + 1)] = name;

    switch (outcome) {
    case UploadOutcome::Done: m_lastOutcome = LoadOutcome::Loaded; break;
    case UploadOutcome::Stopped: m_lastOutcome = LoadOutcome::Stopped; break;
    case UploadOutcome::OldFirmware: m_lastOutcome = LoadOutcome::Refused; break;
    case UploadOutcome::NoVersionReply:
    case UploadOutcome::LinkFailed: m_lastOutcome = LoadOutcome::LinkFailed; break;
    }

    cmdLOAD->setText(caption);
    for (QRadioButton *b : optBANK)
        b->setEnabled(true);
    Q_EMIT runningChanged(false);
    for (QWidget *w : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        w->hide();
    m_running = false;
}

} // namespace qx
