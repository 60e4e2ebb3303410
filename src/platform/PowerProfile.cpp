// PowerProfile: GPowerProfileMonitor.

#include "platform/PowerProfile.h"

#include <gio/gio.h>

namespace {

GPowerProfileMonitor* Monitor() {
  // Kept for the process's life: the saver asks all along.
  static GPowerProfileMonitor* monitor = g_power_profile_monitor_dup_default();
  return monitor;
}

}  // namespace

bool PowerSaverOn() {
  GPowerProfileMonitor* monitor = Monitor();
  return monitor && g_power_profile_monitor_get_power_saver_enabled(monitor);
}

void PowerProfileUpdate() {
  if (!Monitor()) return;
  GMainContext* context = g_main_context_default();
  if (g_main_context_acquire(context)) {
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_release(context);
  }
}
