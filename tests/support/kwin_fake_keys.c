// Types keys into KWin on Wayland through its fake-input protocol, as a person at the keyboard:
// each line read from standard input, "KEYCODE 1" or "KEYCODE 0" (a Linux input event code, pressed
// or released), becomes one key event; a line "sync" is answered with "synced" on standard output
// once the compositor has handled every event before it. For the Wayland activation rig; KWin lets a
// client use the protocol when it runs with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <wayland-client.h>

#include "fake-input-client-protocol.h"

static struct org_kde_kwin_fake_input* input;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}
static void globalRemove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}
static const struct wl_registry_listener registryListener = {global, globalRemove};

int main(void) {
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "kwin_fake_keys: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, NULL);
    wl_display_roundtrip(display);
    if (!input) {
        fprintf(stderr, "kwin_fake_keys: the compositor offers no fake input (version 4)\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(input, "Kestova test rig", "types a person's keys");
    wl_display_roundtrip(display);
    char line[64];
    while (fgets(line, sizeof line, stdin)) {
        unsigned code = 0, pressed = 0;
        if (strncmp(line, "sync", 4) == 0) {
            if (wl_display_roundtrip(display) < 0) return 1;
            printf("synced\n");
            fflush(stdout);
        } else if (sscanf(line, "%u %u", &code, &pressed) == 2) {
            org_kde_kwin_fake_input_keyboard_key(input, code, pressed ? 1 : 0);
            if (wl_display_flush(display) < 0) return 1;
        }
    }
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
