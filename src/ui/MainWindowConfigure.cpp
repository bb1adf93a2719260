// File > Configure: the configure dialog and what its OK puts in force.
#include "session/Configuration.h"
#include "ui/ConfigureDialog.h"
#include "ui/MainWindow.h"
#include "ui/UserMessages.h"

#include <QAction>

namespace {

// The main window as the configure exchange changes it.
class TMainWindowConfiguration : public TConfigurationTarget {
public:
    explicit TMainWindowConfiguration(TFormMain &form) : form_(form) {}
    void ApplyFilterPC(const std::string &filter) override { form_.SetFilterPC(filter); }
    bool SetTandemFilter(const std::string &definition) override
    {
        return form_.Session().SetTandemFilter(definition);
    }
    // Without a session the list stays empty; the listing just fails.
    void ListTandemFiles() override { form_.Session().ListTandemFiles(); }

private:
    TFormMain &form_;
};

} // namespace

void TFormMain::WireConfigure()
{
    connect(ConfigureItem, &QAction::triggered, this, GuardedSlot(&TFormMain::ConfigureClick));
}

void TFormMain::ConfigureClick()
{
    TFormConfig *config = Forms_.FormConfig;
    if (!config)
        return;
    const GeneralSettings before = config->Settings;
    const FilterTexts inForce{FilterPC, Session_->TandemFilters.Definition()};
    if (!config->Execute(inForce))
        return;
    TMainWindowConfiguration window(*this);
    const std::string problem =
        ApplyConfiguration(Store.get(), before, config->Settings, inForce, config->Filters(), window);
    Session_->RestartKeepAlive();
    if (!problem.empty())
        Messages.Warning(this, TextForDisplay(problem));
}
