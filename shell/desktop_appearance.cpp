#include "desktop_appearance.h"

#include <optional>
#include <string>

#include "appearance.h"

namespace velmora {

namespace {

constexpr const char* kInterfaceSchema = "org.gnome.desktop.interface";

GSettings* gnome_interface_settings() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) return nullptr;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kInterfaceSchema, TRUE);
    if (schema == nullptr) return nullptr;
    const bool has_key = g_settings_schema_has_key(schema, "color-scheme");
    g_settings_schema_unref(schema);
    return has_key ? g_settings_new(kInterfaceSchema) : nullptr;
}

}  // namespace

DesktopAppearance::DesktopAppearance(std::function<void(const Look&)> on_change)
    : on_change_(std::move(on_change)), gtk_(gtk_settings_get_default()), gnome_(gnome_interface_settings()) {
    if (gtk_ != nullptr) {
        gboolean prefer_dark = FALSE;
        g_object_get(gtk_, "gtk-application-prefer-dark-theme", &prefer_dark, nullptr);
        gtk_prefer_dark_ = prefer_dark != FALSE;
        for (const char* signal : {"notify::gtk-application-prefer-dark-theme", "notify::gtk-theme-name"}) {
            g_signal_connect(gtk_, signal, G_CALLBACK(on_gtk_setting), this);
        }
    }
    if (gnome_ != nullptr) g_signal_connect(gnome_, "changed::color-scheme", G_CALLBACK(on_color_scheme), this);
    update();
}

DesktopAppearance::~DesktopAppearance() {
    if (gtk_ != nullptr) g_signal_handlers_disconnect_by_data(gtk_, this);
    if (gnome_ != nullptr) {
        g_signal_handlers_disconnect_by_data(gnome_, this);
        g_object_unref(gnome_);
    }
}

void DesktopAppearance::on_gtk_setting(GObject* object, GParamSpec* property, gpointer self) {
    auto* appearance = static_cast<DesktopAppearance*>(self);
    if (appearance->applying_) return;
    if (g_str_equal(g_param_spec_get_name(property), "gtk-application-prefer-dark-theme")) {
        gboolean prefer_dark = FALSE;
        g_object_get(object, "gtk-application-prefer-dark-theme", &prefer_dark, nullptr);
        appearance->gtk_prefer_dark_ = prefer_dark != FALSE;
    }
    appearance->update();
}

void DesktopAppearance::on_color_scheme(GSettings*, const char*, gpointer self) {
    static_cast<DesktopAppearance*>(self)->update();
}

void DesktopAppearance::update() {
    std::optional<std::string> scheme;
    if (gnome_ != nullptr) {
        char* value = g_settings_get_string(gnome_, "color-scheme");
        scheme = value;
        g_free(value);
    }
    std::string theme;
    if (gtk_ != nullptr) {
        char* name = nullptr;
        g_object_get(gtk_, "gtk-theme-name", &name, nullptr);
        if (name != nullptr) theme = name;
        g_free(name);
    }
    Look next;
    next.dark =
        dark_preferred(scheme ? std::optional<std::string_view>(*scheme) : std::nullopt, gtk_prefer_dark_, theme);
    if (gtk_ != nullptr) {
        // GTK's own widgets (menus, choosers, dialogs) and WebKit follow this.
        applying_ = true;
        g_object_set(gtk_, "gtk-application-prefer-dark-theme", next.dark ? TRUE : FALSE, nullptr);
        applying_ = false;
    }
    look_ = next;
    if (on_change_) on_change_(look_);
}

}  // namespace velmora
