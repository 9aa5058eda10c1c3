#include "config/config_window.h"

#include <QContextMenuEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace velmar {

namespace {

QStringListModel* listModel(QObject* parent, const QStringList& items) {
    return new QStringListModel(items, parent);
}

QWidget* scrolled(QWidget* inner) {
    auto* area = new QScrollArea;
    area->setWidget(inner);
    area->setWidgetResizable(true);
    return area;
}

}  // namespace

ConfigWindow::ConfigWindow(Configuration& model, QWidget* parent)
    : QWidget(parent), model_(model), pages_(new QTabWidget(this)) {
    setWindowTitle(QStringLiteral("Quartel Configuration"));
    const ValueLists& v = valueLists();
    events_ = listModel(this, {});
    movement_ = listModel(this, {});
    auto* voltage = listModel(this, v.voltage);
    for (std::size_t k = 0; k < 8; ++k)
        thresholds_[k] = k == 1 || k == 2 ? listModel(this, {}) : voltage;
    askName = [this](const QString& caption) {
        bool ok = false;
        const QString n =
            QInputDialog::getText(this, QStringLiteral("Change Name"), QStringLiteral("Name"),
                                  QLineEdit::Normal, caption, &ok);
        return ok ? n : QString();
    };
    confirmRemove = [this](const QString& device) {
        return QMessageBox::question(
                   this, QStringLiteral("Remove Device"),
                   QStringLiteral("Remove device \"%1\" from system ?").arg(device)) ==
               QMessageBox::Yes;
    };

    pages_->addTab(generalPage(), QStringLiteral("General"));
    pages_->addTab(scrolled(analoguePage()), QStringLiteral("Analogue Inputs"));
    pages_->addTab(scrolled(outputsPage()), QStringLiteral("Outputs"));
    pages_->addTab(scrolled(inputsPage()), QStringLiteral("Inputs"));
    pages_->addTab(controllersPage(true), QStringLiteral("Light"));
    pages_->addTab(controllersPage(false), QStringLiteral("Temperature"));
    pages_->addTab(scrolled(outrelPage()), QStringLiteral("Outrel"));
    pages_->addTab(advancedPage(), QStringLiteral("Advanced"));

    save_ = new QPushButton(QStringLiteral("Save Settings and Update"), this);
    updateEvents_ = new QPushButton(QStringLiteral("Update Events"), this);
    remove_ = new QPushButton(QStringLiteral("Remove Device"), this);
    auto* bt = new QPushButton(QStringLiteral("Set BT Module"), this);
    auto* reset = new QPushButton(QStringLiteral("Reset"), this);
    thermel_ = new QPushButton(QStringLiteral("Create Thermel Config"), this);
    connect(save_, &QPushButton::clicked, this, [this] { model_.saveSettingsAndUpdate(); });
    connect(updateEvents_, &QPushButton::clicked, this, [this] { model_.updateEvents(); });
    connect(remove_, &QPushButton::clicked, this, [this] {
        if (model_.current >= 0 && confirmRemove(model_.devices.names.value(model_.current)))
            model_.removeDevice();
    });
    connect(bt, &QPushButton::clicked, this, [this] { model_.setBtModule(); });
    connect(reset, &QPushButton::clicked, this, [this] { model_.reset(); });
    connect(thermel_, &QPushButton::clicked, this, [this] { model_.createThermelConfig(); });
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {save_, updateEvents_, remove_, bt, reset, thermel_})
        buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_);
    layout->addLayout(buttons);
    connect(&model_, &Configuration::changed, this, &ConfigWindow::refresh);
    refresh();
    resize(sizeHint().expandedTo(QSize(760, 600)));
}

QComboBox* ConfigWindow::choiceBox(QWidget* parent, const QString& name, QStringListModel* list,
                                   std::function<Choice&()> field) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setModel(list);
    connect(box, &QComboBox::currentIndexChanged, this, [this, box, list, field](int i) {
        if (!refreshing_ && i >= 0)
            field() = chooseIndex(list->stringList(), i);
    });
    refreshers_.push_back([box, field] { box->setCurrentIndex(field().index); });
    return box;
}

QComboBox* ConfigWindow::indexBox(QWidget* parent, const QString& name, QStringListModel* list,
                                  std::function<int&()> field) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setModel(list);
    connect(box, &QComboBox::currentIndexChanged, this, [this, field](int i) {
        if (!refreshing_ && i >= 0)
            field() = i;
    });
    refreshers_.push_back([box, field] { box->setCurrentIndex(field()); });
    return box;
}

QComboBox* ConfigWindow::picker(QWidget* parent, const QString& name,
                                std::function<QString&()> field) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    box->setModel(events_);
    box->setInsertPolicy(QComboBox::NoInsert);
    connect(box, &QComboBox::currentTextChanged, this, [this, field](const QString& t) {
        if (!refreshing_)
            field() = t;
    });
    refreshers_.push_back([box, field] { box->setEditText(field()); });
    return box;
}

QLineEdit* ConfigWindow::textEdit(QWidget* parent, const QString& name,
                                  std::function<QString&()> field) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    connect(edit, &QLineEdit::textEdited, this, [field](const QString& t) { field() = t; });
    refreshers_.push_back([edit, field] { edit->setText(field()); });
    return edit;
}

QCheckBox* ConfigWindow::checkBox(QWidget* parent, const QString& name, const QString& caption,
                                  std::function<bool&()> field) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    connect(box, &QCheckBox::toggled, this, [this, field](bool on) {
        if (!refreshing_)
            field() = on;
    });
    refreshers_.push_back([box, field] { box->setChecked(field()); });
    return box;
}

void ConfigWindow::nameable(QWidget* w, const QString& component) {
    w->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(w, &QWidget::customContextMenuRequested, this, [this, w, component](const QPoint& at) {
        QMenu menu;
        QAction* change = menu.addAction(QStringLiteral("Change Name"));
        if (menu.exec(w->mapToGlobal(at)) != change)
            return;
        const QString name = askName(model_.caption(component));
        if (!name.isEmpty())
            model_.rename(component, name);
    });
    auto* box = qobject_cast<QGroupBox*>(w);
    auto* label = qobject_cast<QLabel*>(w);
    refreshers_.push_back([this, box, label, component] {
        if (box)
            box->setTitle(model_.caption(component));
        if (label)
            label->setText(model_.caption(component));
    });
}

QWidget* ConfigWindow::generalPage() {
    const ValueLists& v = valueLists();
    DeviceSettings& s = model_.settings;
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    device_ = new QComboBox(page);
    device_->setObjectName(QStringLiteral("DName"));
    device_->setEditable(true);
    connect(device_, &QComboBox::textActivated, this, [this](const QString& name) {
        if (!model_.pick(name))
            model_.settings.DName = name;
    });
    connect(device_, &QComboBox::editTextChanged, this, [this](const QString& t) {
        if (!refreshing_)
            model_.settings.DName = t;
    });
    form->addRow(QStringLiteral("Device Name"), device_);
    auto* type = new QComboBox(page);
    type->setObjectName(QStringLiteral("DType"));
    type->addItems({QStringLiteral("Quartel"), QStringLiteral("Outrel")});
    connect(type, &QComboBox::textActivated, this, [&s](const QString& t) { s.DType = t; });
    refreshers_.push_back([type, &s] { type->setCurrentText(s.DType); });
    form->addRow(QStringLiteral("Device Type"), type);
    auto* addresses = listModel(this, v.addresses);
    auto* bytes = listModel(this, v.bytes);
    form->addRow(QStringLiteral("Address High"),
                 choiceBox(page, QStringLiteral("DAddrH"), addresses,
                           [&s]() -> Choice& { return s.DAddrH; }));
    form->addRow(QStringLiteral("Address Low"), choiceBox(page, QStringLiteral("DAddrL"), addresses,
                                                          [&s]() -> Choice& { return s.DAddrL; }));
    form->addRow(QStringLiteral("RS485 Speed"),
                 choiceBox(page, QStringLiteral("RSspeed"), listModel(this, v.speeds),
                           [&s]() -> Choice& { return s.RSspeed; }));
    form->addRow(QStringLiteral("Auto Restart After [min]"),
                 choiceBox(page, QStringLiteral("ModFreq1"), bytes,
                           [&s]() -> Choice& { return s.ModFreq1; }));
    rc_ = listModel(this, v.rcQuartel);
    form->addRow(
        QStringLiteral("Remote Controler Type"),
        indexBox(page, QStringLiteral("RCType"), rc_, [&s]() -> int& { return s.RCType; }));
    form->addRow(QStringLiteral("Low Voltage Detection"),
                 choiceBox(page, QStringLiteral("LVD"), listModel(this, v.lvd),
                           [&s]() -> Choice& { return s.LVD; }));
    form->addRow(QStringLiteral("Movement Input"),
                 indexBox(page, QStringLiteral("ComboBox14"), movement_,
                          [&s]() -> int& { return s.ComboBox14; }));
    form->addRow(QStringLiteral("Movement Input 2"),
                 indexBox(page, QStringLiteral("ComboBox15"), movement_,
                          [&s]() -> int& { return s.ComboBox15; }));
    form->addRow(QStringLiteral("Light Level"),
                 indexBox(page, QStringLiteral("ComboBox17"), thresholds_[0],
                          [&s]() -> int& { return s.ComboBox17; }));
    form->addRow(QStringLiteral("Time [s]"), indexBox(page, QStringLiteral("ComboBox18"), bytes,
                                                      [&s]() -> int& { return s.ComboBox18; }));
    form->addRow(checkBox(page, QStringLiteral("CheckBox2"), QStringLiteral("Outrel"),
                          [&s]() -> bool& { return s.CheckBox2; }));
    return page;
}

QWidget* ConfigWindow::analoguePage() {
    DeviceSettings& s = model_.settings;
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    for (int k = 0; k < 8; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        const QString n = QString::number(k + 1);
        auto* box = new QGroupBox(page);
        nameable(box, QLatin1String("ADC") + n);
        auto* form = new QFormLayout(box);
        form->addRow(QStringLiteral("Low"),
                     choiceBox(box, QLatin1String("AdcL") + n, thresholds_[uk],
                               [&s, uk]() -> Choice& { return s.AdcL[uk]; }));
        form->addRow(QStringLiteral("High"),
                     choiceBox(box, QLatin1String("AdcH") + n, thresholds_[uk],
                               [&s, uk]() -> Choice& { return s.AdcH[uk]; }));
        form->addRow(QStringLiteral("Below"),
                     picker(box, QLatin1String("AdcLEv") + n,
                            [&s, uk]() -> QString& { return s.AdcLEv[uk]; }));
        form->addRow(QStringLiteral("Above"),
                     picker(box, QLatin1String("AdcHEv") + n,
                            [&s, uk]() -> QString& { return s.AdcHEv[uk]; }));
        form->addRow(QStringLiteral("In range"),
                     picker(box, QLatin1String("ADCOKEv") + n,
                            [&s, uk]() -> QString& { return s.ADCOKEv[uk]; }));
        if (k == 2)
            form->addRow(checkBox(box, QStringLiteral("CheckBox1"), QStringLiteral("Temperature"),
                                  [&s]() -> bool& { return s.CheckBox1; }));
        grid->addWidget(box, k / 2, k % 2);
    }
    return page;
}

QWidget* ConfigWindow::outputsPage() {
    DeviceSettings& s = model_.settings;
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    auto* states = listModel(this, valueLists().onOff);
    for (int k = 0; k < 24; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        auto* label = new QLabel(page);
        nameable(label, QStringLiteral("O%1").arg(k + 1));
        grid->addWidget(label, k % 12, (k / 12) * 2);
        auto* state = new QComboBox(page);
        state->setObjectName(QStringLiteral("DevOut%1").arg(k + 1));
        state->setModel(states);
        connect(state, &QComboBox::textActivated, this,
                [&s, uk](const QString& t) { s.DevOut[uk] = t; });
        refreshers_.push_back([state, &s, uk] { state->setCurrentText(s.DevOut[uk]); });
        grid->addWidget(state, k % 12, (k / 12) * 2 + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    for (int k = 24; k < 35; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        grid->addWidget(new QLabel(QStringLiteral("Output %1").arg(k + 1), page), 12 + k - 24, 0);
        grid->addWidget(textEdit(page, QStringLiteral("O%1").arg(k + 1),
                                 [&s, uk]() -> QString& { return s.O[uk]; }),
                        12 + k - 24, 1, 1, 3);
    }
    return page;
}

QWidget* ConfigWindow::inputsPage() {
    DeviceSettings& s = model_.settings;
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    auto* levels = listModel(this, valueLists().levels);
    for (int group = 0; group < 2; ++group) {
        for (int k = 0; k < 8; ++k) {
            const auto uk = static_cast<std::size_t>(k);
            const QString n = QString::number(k + 1);
            auto* box = new QGroupBox(page);
            nameable(box, (group == 0 ? QLatin1String("DigitalIn") : QLatin1String("IntInp")) + n);
            auto* form = new QFormLayout(box);
            if (group == 0) {
                form->addRow(QStringLiteral("Level"),
                             choiceBox(box, QLatin1String("InpWL") + n, levels,
                                       [&s, uk]() -> Choice& { return s.InpWL[uk]; }));
                form->addRow(QStringLiteral("On 0"),
                             picker(box, QLatin1String("InputLEv") + n,
                                    [&s, uk]() -> QString& { return s.InputLEv[uk]; }));
                form->addRow(QStringLiteral("On 1"),
                             picker(box, QLatin1String("InputHEv") + n,
                                    [&s, uk]() -> QString& { return s.InputHEv[uk]; }));
            } else {
                form->addRow(QStringLiteral("Level"),
                             choiceBox(box, QLatin1String("intwl") + n, levels,
                                       [&s, uk]() -> Choice& { return s.intwl[uk]; }));
                form->addRow(QStringLiteral("On 0"),
                             picker(box, QLatin1String("intlev") + n,
                                    [&s, uk]() -> QString& { return s.intlev[uk]; }));
                form->addRow(QStringLiteral("On 1"),
                             picker(box, QLatin1String("inthev") + n,
                                    [&s, uk]() -> QString& { return s.inthev[uk]; }));
            }
            grid->addWidget(box, k, group);
        }
    }
    return page;
}

QWidget* ConfigWindow::controllersPage(bool light) {
    DeviceSettings& s = model_.settings;
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    auto* values = listModel(this, light ? valueLists().light : valueLists().temperature);
    auto* noYes = listModel(this, valueLists().noYes);
    for (int k = 0; k < 4; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        const QString n = QString::number(k + 1);
        auto* box = new QGroupBox(page);
        nameable(box, (light ? QLatin1String("LightContr") : QLatin1String("TempContr")) + n);
        auto* form = new QFormLayout(box);
        if (light) {
            form->addRow(QStringLiteral("Low"),
                         choiceBox(box, QLatin1String("LightL") + n, values,
                                   [&s, uk]() -> Choice& { return s.LightL[uk]; }));
            form->addRow(QStringLiteral("High"),
                         choiceBox(box, QLatin1String("LightH") + n, values,
                                   [&s, uk]() -> Choice& { return s.LightH[uk]; }));
            form->addRow(QStringLiteral("Hysteresis"),
                         choiceBox(box, QLatin1String("LightHist") + n, values,
                                   [&s, uk]() -> Choice& { return s.LightHist[uk]; }));
            form->addRow(QStringLiteral("Valid"),
                         picker(box, QLatin1String("LightOkEv") + n,
                                [&s, uk]() -> QString& { return s.LightOkEv[uk]; }));
            form->addRow(QStringLiteral("Below"),
                         picker(box, QLatin1String("LightLEv") + n,
                                [&s, uk]() -> QString& { return s.LightLEv[uk]; }));
            form->addRow(QStringLiteral("Above"),
                         picker(box, QLatin1String("LightHEv") + n,
                                [&s, uk]() -> QString& { return s.LightHEv[uk]; }));
            form->addRow(QStringLiteral("Automatic"),
                         choiceBox(box, QLatin1String("LightOp") + n, noYes,
                                   [&s, uk]() -> Choice& { return s.LightOp[uk]; }));
        } else {
            form->addRow(QStringLiteral("Low"),
                         choiceBox(box, QLatin1String("TempL") + n, values,
                                   [&s, uk]() -> Choice& { return s.TempL[uk]; }));
            form->addRow(QStringLiteral("High"),
                         choiceBox(box, QLatin1String("TempH") + n, values,
                                   [&s, uk]() -> Choice& { return s.TempH[uk]; }));
            form->addRow(QStringLiteral("Hysteresis"),
                         choiceBox(box, QLatin1String("Hist") + n, values,
                                   [&s, uk]() -> Choice& { return s.Hist[uk]; }));
            form->addRow(QStringLiteral("Valid"),
                         picker(box, QLatin1String("TempOkEv") + n,
                                [&s, uk]() -> QString& { return s.TempOkEv[uk]; }));
            form->addRow(QStringLiteral("Below"),
                         picker(box, QLatin1String("TempLEv") + n,
                                [&s, uk]() -> QString& { return s.TempLEv[uk]; }));
            form->addRow(QStringLiteral("Above"),
                         picker(box, QLatin1String("TempHEv") + n,
                                [&s, uk]() -> QString& { return s.TempHEv[uk]; }));
            form->addRow(QStringLiteral("Automatic"),
                         choiceBox(box, QLatin1String("TempOp") + n, noYes,
                                   [&s, uk]() -> Choice& { return s.TempOp[uk]; }));
        }
        grid->addWidget(box, k / 2, k % 2);
    }
    return page;
}

QWidget* ConfigWindow::outrelPage() {
    DeviceSettings& s = model_.settings;
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    for (int j = 0; j < 24; ++j) {
        const auto uj = static_cast<std::size_t>(j);
        auto* name = new QLabel(page);
        refreshers_.push_back([name, &s, uj] { name->setText(s.OutrelName[uj]); });
        grid->addWidget(name, j % 12, (j / 12) * 2);
        grid->addWidget(
            choiceBox(page, QLatin1String(kOutrelOutputs[uj].field), listModel(this, outrelList(j)),
                      [&s, uj]() -> Choice& { return s.OutrelDefault[uj]; }),
            j % 12, (j / 12) * 2 + 1);
    }
    return page;
}

QWidget* ConfigWindow::advancedPage() {
    DeviceSettings& s = model_.settings;
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->addRow(
        QStringLiteral("Velmar 1 Devices Count"),
        indexBox(page, QStringLiteral("DevsCount"), listModel(this, valueLists().devsCount),
                 [&s]() -> int& { return s.DevsCount; }));
    form->addRow(checkBox(page, QStringLiteral("ViaComm"),
                          QStringLiteral("Via Communication Module"),
                          [&s]() -> bool& { return s.ViaComm; }));
    form->addRow(checkBox(page, QStringLiteral("AutoStat"), QStringLiteral("Auto Status Send"),
                          [&s]() -> bool& { return s.AutoStat; }));
    form->addRow(
        QStringLiteral("BT Host Name"),
        textEdit(page, QStringLiteral("Edit9"), [this]() -> QString& { return model_.bthost; }));
    QLineEdit* password =
        textEdit(page, QStringLiteral("Edit10"), [this]() -> QString& { return model_.btpass; });
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("BT Password"), password);
    return page;
}

void ConfigWindow::refresh() {
    refreshing_ = true;
    // The lists first, then the fields that choose from them.
    const DeviceSettings& s = model_.settings;
    device_->clear();
    device_->addItems(model_.devices.names);
    device_->setEditText(s.DName);
    thermel_->setVisible(!model_.devices.files.contains(QStringLiteral("1-1.dev")));
    QStringList movement{QStringLiteral("-")};
    for (int k = 0; k < 24; ++k)
        movement << s.O[static_cast<std::size_t>(k)];
    movement_->setStringList(movement);
    events_->setStringList(model_.pickers.evntname);
    thresholds_[1]->setStringList(model_.thresholds[1]);
    thresholds_[2]->setStringList(model_.thresholds[2]);
    rc_->setStringList(s.CheckBox2 ? valueLists().rcOutrel : valueLists().rcQuartel);
    for (const auto& r : refreshers_)
        r();
    refreshing_ = false;
}

}  // namespace velmar
