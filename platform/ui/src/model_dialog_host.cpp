#include "platform/ui/model_dialog_host.h"

#include "hosted_window.h"

namespace ui::detail {

ModelDialogHost::ModelDialogHost(const DialogTemplate& dialog, Page& page, uint64_t windowSerial,
                                 DialogModel::RecordSink record, std::function<void()> wake)
    : template_(dialog),
      page_(page),
      model_(dialog, windowSerial, std::move(record)),
      window_(std::make_shared<HostedWindow>(std::move(wake))),
      pageThread_(std::this_thread::get_id()) {
    model_.SetMirror(this);
}

ModelDialogHost::~ModelDialogHost() { window_->Close(); }

std::shared_ptr<WindowHandle> ModelDialogHost::Handle() const { return window_; }

bool ModelDialogHost::OnPageThread(const char* operation) const {
    if (std::this_thread::get_id() == pageThread_) return true;
    Record(EntryKind::Error, 0, 0, 0,
           std::string(operation) + " called from another thread; use the window handle");
    return false;
}

const ControlState* ModelDialogHost::Read(int controlId) const {
    if (!OnPageThread("reading a control")) return nullptr;
    return model_.Find(controlId);
}

void ModelDialogHost::Open() {
    window_->Open(*this);
    page_.AttachHost(this);
    Record(EntryKind::PageOpened, 0, 0, 0, model_.State().caption);
}

void ModelDialogHost::Destroy() {
    window_->BeginClose();
    page_.OnDestroy();
    window_->Close();
    page_.AttachHost(nullptr);
    OnClosed();
    Record(EntryKind::PageEnded, 0, result_);
}

bool ModelDialogHost::RunQueued() {
    if (ended_) return false;
    return window_->RunOne(
        [this](UINT message, WPARAM wParam, LPARAM lParam) { page_.Dispatch(message, wParam, lParam); });
}

bool ModelDialogHost::SetItemText(int controlId, std::string_view text) {
    return OnPageThread("SetItemText") && model_.SetItemText(controlId, text);
}

std::string ModelDialogHost::GetItemText(int controlId) const {
    const ControlState* c = Read(controlId);
    return c ? c->text : std::string();
}

bool ModelDialogHost::ShowItem(int controlId, bool show) {
    return OnPageThread("ShowItem") && model_.ShowItem(controlId, show);
}

bool ModelDialogHost::EnableItem(int controlId, bool enable) {
    return OnPageThread("EnableItem") && model_.EnableItem(controlId, enable);
}

bool ModelDialogHost::IsItemVisible(int controlId) const {
    const ControlState* c = Read(controlId);
    return c && c->visible;
}

bool ModelDialogHost::IsItemEnabled(int controlId) const {
    const ControlState* c = Read(controlId);
    return c && c->enabled;
}

bool ModelDialogHost::SetProgressRange(int controlId, int minimum, int maximum) {
    return OnPageThread("SetProgressRange") && model_.SetProgressRange(controlId, minimum, maximum);
}

bool ModelDialogHost::SetProgressPos(int controlId, int pos) {
    return OnPageThread("SetProgressPos") && model_.SetProgressPos(controlId, pos);
}

int ModelDialogHost::GetProgressPos(int controlId) const {
    const ControlState* c = Read(controlId);
    return c ? c->pos : 0;
}

bool ModelDialogHost::SetItemTextColour(int controlId, COLORREF colour) {
    return OnPageThread("SetItemTextColour") && model_.SetItemTextColour(controlId, colour);
}

bool ModelDialogHost::SetTimer(UINT timerId, UINT periodMs) {
    if (!OnPageThread("SetTimer")) return false;
    model_.SetTimer(timerId, periodMs);
    return true;
}

bool ModelDialogHost::KillTimer(UINT timerId) {
    return OnPageThread("KillTimer") && model_.KillTimer(timerId);
}

void ModelDialogHost::EndDialog(int result) {
    if (!OnPageThread("EndDialog") || ended_) return;
    ended_ = true;
    result_ = result;
    OnEnded(result);
}

void ModelDialogHost::AppendWindowMenuItem(std::string_view text, UINT commandId) {
    if (OnPageThread("AppendWindowMenuItem")) model_.AppendWindowMenuItem(text, commandId);
}

void ModelDialogHost::ModifyStyle(uint32_t remove, uint32_t add) {
    if (OnPageThread("ModifyStyle")) model_.ModifyStyle(remove, add);
}

void ModelDialogHost::ShowWindow(bool show) {
    if (OnPageThread("ShowWindow")) model_.ShowWindow(show);
}

void ModelDialogHost::SetIcon(int iconId) {
    if (OnPageThread("SetIcon")) model_.SetIcon(iconId);
}

}  // namespace ui::detail
