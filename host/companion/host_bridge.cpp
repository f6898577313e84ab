#include "host/companion/host_bridge.hpp"

#include <asio/post.hpp>

#include "kit/wire/overload.hpp"

namespace glidemate::host {
namespace {

HostSnapshot::Bluetooth bluetoothOf(BLEPeripheralHost::State state) {
  switch (state) {
    case BLEPeripheralHost::State::idle:
      return HostSnapshot::Bluetooth::idle;
    case BLEPeripheralHost::State::unsupported:
      return HostSnapshot::Bluetooth::unsupported;
    case BLEPeripheralHost::State::unauthorised:
      return HostSnapshot::Bluetooth::unauthorised;
    case BLEPeripheralHost::State::poweredOff:
      return HostSnapshot::Bluetooth::poweredOff;
    case BLEPeripheralHost::State::advertising:
      return HostSnapshot::Bluetooth::advertising;
  }
  return HostSnapshot::Bluetooth::idle;
}

HostSnapshot::Automation automationOf(PermissionsService::AutomationState state) {
  switch (state) {
    case PermissionsService::AutomationState::unknown:
      return HostSnapshot::Automation::unknown;
    case PermissionsService::AutomationState::granted:
      return HostSnapshot::Automation::granted;
    case PermissionsService::AutomationState::denied:
      return HostSnapshot::Automation::denied;
  }
  return HostSnapshot::Automation::unknown;
}

HostSnapshot::InputQuestion questionOf(PermissionsService::InputQuestion question) {
  switch (question) {
    case PermissionsService::InputQuestion::none:
      return HostSnapshot::InputQuestion::none;
    case PermissionsService::InputQuestion::pending:
      return HostSnapshot::InputQuestion::pending;
    case PermissionsService::InputQuestion::refused:
      return HostSnapshot::InputQuestion::refused;
  }
  return HostSnapshot::InputQuestion::none;
}

}  // namespace

// One subscription per observable the interface shows; each only marks the
// snapshot stale.
struct HostBridge::Subscriptions {
  Observable<LANListener::State>::Subscription listener;
  Observable<std::vector<HostServer::ConnectedPeer>>::Subscription peers;
  Observable<bool>::Subscription paused;
  Observable<std::set<std::string>>::Subscription disconnected;
  Observable<std::vector<ConnectedPeer>>::Subscription viewers;
  Observable<std::set<std::string>>::Subscription viewingPeerIds;
  Observable<BLEPeripheralHost::State>::Subscription bluetooth;
  Observable<std::optional<PairingCode>>::Subscription code;
  Observable<std::optional<std::string>>::Subscription pairingWith;
  Observable<std::vector<PairedPeer>>::Subscription paired;
  Observable<std::optional<std::chrono::system_clock::time_point>>::Subscription throttle;
  Observable<std::optional<std::string>>::Subscription storage;
  Observable<bool>::Subscription accessibility;
  Observable<bool>::Subscription screenRecording;
  Observable<PermissionsService::AutomationState>::Subscription automation;
  Observable<PermissionsService::InputQuestion>::Subscription inputQuestion;
  std::vector<Observable<std::string>::Subscription> reasons;
  Observable<bool>::Subscription loginItem;
  Observable<std::optional<std::string>>::Subscription loginProblem;
};

HostBridge::HostBridge(asio::any_io_executor executor, Sources sources, Sink sink)
    : executor_(std::move(executor)),
      sources_(sources),
      sink_(std::move(sink)),
      subscriptions_(std::make_unique<Subscriptions>()),
      hasSeenWelcome_(sources.defaults.boolean(hasSeenWelcomeKey).value_or(false)),
      settingsProblem_(sources.defaults.problem()) {
  auto& s = *subscriptions_;
  auto& server = sources_.server;
  auto& pairing = server.pairing;
  auto& permissions = sources_.permissions;
  auto mark = [this](const auto&) { changed(); };
  s.listener = server.listenerState.observe(mark);
  s.peers = server.peers.observe(mark);
  s.paused = server.isPaused.observe(mark);
  s.disconnected = server.disconnectedPeers.observe(mark);
  s.viewers = server.preview().viewers.observe(mark);
  s.viewingPeerIds = server.preview().viewingPeerIds.observe(mark);
  s.bluetooth = server.bluetoothState.observe(mark);
  s.code = pairing.activeCode.observe(mark);
  s.pairingWith = pairing.pairingWith.observe(mark);
  s.paired = pairing.pairedDevices.observe(mark);
  s.throttle = pairing.throttledUntil.observe(mark);
  s.storage = pairing.storageError.observe(mark);
  s.accessibility = permissions.isAccessibilityTrusted.observe(mark);
  s.screenRecording = permissions.isScreenRecordingAllowed.observe(mark);
  s.automation = permissions.automation.observe(mark);
  s.inputQuestion = permissions.inputQuestion.observe(mark);
  for (auto* reason : {&permissions.accessibilityWhy, &permissions.screenRecordingWhy, &permissions.automationWhy}) {
    s.reasons.push_back(reason->observe(mark));
  }
  s.loginItem = sources_.loginItem.isEnabled.observe(mark);
  s.loginProblem = sources_.loginItem.problem.observe(mark);
  changed();
}

HostBridge::~HostBridge() { *alive_ = false; }

void HostBridge::changed() {
  if (publishPending_) return;
  publishPending_ = true;
  asio::post(executor_, [this, alive = alive_] {
    if (*alive) publish();
  });
}

void HostBridge::publish() {
  publishPending_ = false;
  sink_(std::make_shared<const HostSnapshot>(snapshot()));
}

HostSnapshot HostBridge::snapshot() const {
  auto& server = sources_.server;
  const auto& pairing = server.pairing;
  const auto& permissions = sources_.permissions;
  HostSnapshot out;
  out.hostName = server.hostName();
  std::visit(Overload{
                 [&](const LANListener::Listening& l) {
                   out.listener = HostSnapshot::Listener::listening;
                   out.port = l.port;
                 },
                 [&](const LANListener::Failed& f) {
                   out.listener = HostSnapshot::Listener::failed;
                   out.listenerFailure = f.reason;
                 },
                 [&](const LANListener::Idle&) { out.listener = HostSnapshot::Listener::idle; },
             },
             *server.listenerState);
  for (const auto& peer : *server.peers) {
    out.peers.push_back({peer.id, peer.name, std::string(rawValue(peer.transport)), peer.connectedAt,
                         server.preview().isViewing(peer.id)});
  }
  for (const auto& viewer : *server.preview().viewers) out.viewers.push_back(viewer.name);
  out.isPaused = *server.isPaused;
  out.disconnectedPeers = *server.disconnectedPeers;
  out.bluetooth = bluetoothOf(*server.bluetoothState);
  if (*pairing.activeCode) out.activeCode = pairing.activeCode->value().digits();
  out.pairingWith = *pairing.pairingWith;
  out.pairedDevices = *pairing.pairedDevices;
  out.throttledUntil = *pairing.throttledUntil;
  out.storageError = *pairing.storageError;
  out.accessibility = {*permissions.isAccessibilityTrusted, *permissions.accessibilityWhy};
  out.inputQuestion = questionOf(*permissions.inputQuestion);
  out.screenRecording = {*permissions.isScreenRecordingAllowed, *permissions.screenRecordingWhy};
  out.automation = automationOf(*permissions.automation);
  out.automationWhy = *permissions.automationWhy;
  out.loginItemEnabled = *sources_.loginItem.isEnabled;
  out.loginItemProblem = *sources_.loginItem.problem;
  out.hasSeenWelcome = hasSeenWelcome_;
  out.settingsProblem = settingsProblem_;
  return out;
}

void HostBridge::apply(const HostAction& action) {
  auto& server = sources_.server;
  std::visit(Overload{
                 [&](const HostAction::SetPaused& a) { server.setPaused(a.paused); },
                 [&](const HostAction::Disconnect& a) { server.disconnect(a.peerId); },
                 [&](const HostAction::Allow& a) { server.allow(a.peerId); },
                 [&](const HostAction::Forget& a) { server.forget(a.peerId); },
                 [&](const HostAction::DeclinePairing&) { server.pairing.decline(); },
                 [&](const HostAction::AllowPairing&) { server.pairing.allowPairing(); },
                 [&](const HostAction::RecheckPermissions&) { sources_.permissions.refresh(); },
                 [&](const HostAction::AskForInputAgain&) { sources_.permissions.askForInputAgain(); },
                 [&](const HostAction::SetStartAtLogin& a) { sources_.loginItem.setEnabled(a.enabled); },
                 [&](const HostAction::StopAllPreviews&) { server.preview().stopAllPreviews(); },
                 [&](const HostAction::MarkWelcomeSeen&) {
                   if (hasSeenWelcome_) return;
                   hasSeenWelcome_ = true;
                   try {
                     sources_.defaults.setBoolean(hasSeenWelcomeKey, true);
                   } catch (const std::exception& e) {
                     settingsProblem_ = e.what();
                   }
                   changed();
                 },
             },
             action.value);
}

}  // namespace glidemate::host
