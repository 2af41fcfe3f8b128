// Desktop notifications for the lobby through libnotify: "your turn" in a correspondence race,
// which opens the race when clicked. Without a notification service (a bare X server, a headless
// run) nothing is shown and nothing is said.
#pragma once

#include <string>

// Shows the notification for the race; false when it couldn't be shown.
bool NotifyYourTurn(long long race, const std::string& text);

// Lets the desktop's answers arrive (a click), without waiting; the race whose notification was
// clicked since the last call, or 0.
long long TakeClickedRace();

// Closes what is still shown and lets go of the service, at the end of the run.
void EndNotifications();
