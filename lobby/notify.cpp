// The lobby's notifications over libnotify, whose clicks arrive through GLib's main context.
#include "lobby/notify.h"

#include <libnotify/notify.h>

#include <vector>

namespace {

bool started = false;
bool unavailable = false;
long long clicked = 0;
std::vector<NotifyNotification*> shown;

void OnOpen(NotifyNotification*, char*, gpointer race) {
  clicked = static_cast<long long>(reinterpret_cast<intptr_t>(race));
}

}  // namespace

bool NotifyYourTurn(long long race, const std::string& text) {
  if (unavailable) return false;
  if (!started) {
    if (!notify_init("Apexgrid Online")) {
      unavailable = true;
      return false;
    }
    started = true;
  }
  NotifyNotification* note = notify_notification_new("Apexgrid: your turn", text.c_str(), "apexgrid");
  notify_notification_add_action(note, "default", "Open", OnOpen,
                                 reinterpret_cast<gpointer>(static_cast<intptr_t>(race)), nullptr);
  notify_notification_add_action(note, "open", "Open", OnOpen, reinterpret_cast<gpointer>(static_cast<intptr_t>(race)),
                                 nullptr);
  GError* error = nullptr;
  if (!notify_notification_show(note, &error)) {
    // No service to show it: quietly none from now on, rather than a wait on every move.
    if (error != nullptr) g_error_free(error);
    g_object_unref(note);
    unavailable = true;
    return false;
  }
  shown.push_back(note);
  return true;
}

long long TakeClickedRace() {
  if (!started) return 0;
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  const long long race = clicked;
  clicked = 0;
  return race;
}

void EndNotifications() {
  for (NotifyNotification* note : shown) {
    notify_notification_close(note, nullptr);
    g_object_unref(note);
  }
  shown.clear();
  if (started) notify_uninit();
  started = false;
}
