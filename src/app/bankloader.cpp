#include "bankloader.h"

#include "banks/upload.h"
#include "picturefolder.h"
#include "settings/names.h"
#include "state/appstate.h"
#include "state/requestrunner.h"
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
constexpr int kBarHeight = 435;     // twips; pages place their controls in designed pixels, whatever the scale
} // namespace

BankLoader::BankLoader(QWidget *window, QWidget *frame, AppState &state, RequestRunner &runner,
                       const PictureFolderBox &pictures)
    : QObject(window), m_state(state), m_runner(runner), m_pictures(pictures)
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
    txtPROGRESS =
        MakeLabel(w, frame, QStringLiteral("txtPROGRESS"), QStringLiteral("0%"), QRect(7920, 3720, 1155, 195));
    txtPROGRESS->setAlignment(Qt::AlignCenter);
    txtJOB = MakeLabel(w, frame, QStringLiteral("txtJOB"), QStringLiteral("-"), QRect(7740, 4080, 1575, 375));
    txtJOB->setAlignment(Qt::AlignCenter);
    labTECHINFO = MakeLabel(w, frame, QStringLiteral("labTECHINFO"), QString(), QRect(9300, 3600, 1575, 435));
    for (QWidget *c : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        c->hide();
    txtPROGRESS->raise();

    connect(cmdLOAD, &QPushButton::clicked, this, &BankLoader::LoadImageJob);
    connect(&m_runner, &RequestRunner::loadStarted, this, &BankLoader::loadStarted);
    connect(&m_runner, &RequestRunner::loadEnded, this, &BankLoader::loadEnded);
    connect(&m_runner, &RequestRunner::loadText, txtJOB, &QLabel::setText);
    connect(&m_runner, &RequestRunner::loadProgress, this, [this](int percent) {
        boxPROGRESS->resize(std::max(1, tw(ProgressBarWidth(kFramingWidth, percent))), tw(kBarHeight));
        txtPROGRESS->setText(ProgressText(percent));
    });
    connect(&m_runner, &RequestRunner::loadTechnical, labTECHINFO, &QLabel::setText);
    connect(&m_runner, &RequestRunner::loadDiagnostic, this, &BankLoader::technicalInfo);
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

void BankLoader::LoadImageJob()
{
    const MessageTable &msg = m_state.msg;
    // A click while a load runs is the stop button.
    if (m_runner.loadRunning()) {
        if (MessageBox(msg(9), msg(8), true))
            m_runner.stop();
        return;
    }
    int bank = 0;
    for (int i = 0; i < 4; ++i)
        if (optBANK[size_t(i)]->isChecked())
            bank = i;
    const Request load = Request::load(m_pictures.previewedFile(), bank + 1, RequestOrigin::Operator);
    // The runner tells the operator of a refusal or a link failure itself;
    // while another sender's request runs, the load is refused with a note,
    // before anything is asked.
    if (!m_runner.busy() && !MessageBox(msg(23), msg(15), true))
        return;
    Q_EMIT requestEnded(m_runner.execute(load));
}

void BankLoader::loadStarted()
{
    for (QWidget *w : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        w->show();
    boxPROGRESS->resize(1, tw(kBarHeight)); // one pixel: the narrowest bar there is
    m_caption = cmdLOAD->text();
    m_loadEnabled = cmdLOAD->isEnabled();
    cmdLOAD->setText(m_state.msg(7));
    cmdLOAD->setEnabled(true); // the stop button
    for (QRadioButton *b : optBANK)
        b->setEnabled(false);
    Q_EMIT runningChanged(true);
    txtJOB->setText(m_state.msg(1));
    txtPROGRESS->clear();
    QCoreApplication::processEvents();
}

void BankLoader::loadEnded(int bank)
{
    txtLOADED[size_t(bank - 1)]->setText(m_state.settings.BankFileLoaded[size_t(bank)]);
    cmdLOAD->setText(m_caption);
    cmdLOAD->setEnabled(m_loadEnabled);
    for (QRadioButton *b : optBANK)
        b->setEnabled(true);
    Q_EMIT runningChanged(false);
    for (QWidget *w : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        w->hide();
}

} // namespace qx
