#include "choosers.h"

#include <memory>
#include <utility>

namespace velmora {

namespace {

// An open chooser and what to do with its answer; freed when it answers.
template <typename Answer>
struct ChooserRun {
    GtkFileChooserNative* native;
    std::function<void(Answer)> done;
    ChooserRun(GtkFileChooserNative* dialog, std::function<void(Answer)> then)
        : native(dialog), done(std::move(then)) {}
    ChooserRun(const ChooserRun&) = delete;
    ChooserRun& operator=(const ChooserRun&) = delete;
    ~ChooserRun() { g_object_unref(native); }
};
using OpenRun = ChooserRun<std::vector<std::string>>;
using SaveRun = ChooserRun<std::optional<SaveChoice>>;

void on_chooser_response(GtkNativeDialog* dialog, int response, gpointer data) {
    std::unique_ptr<OpenRun> run(static_cast<OpenRun*>(data));
    std::vector<std::string> paths;
    if (response == GTK_RESPONSE_ACCEPT) {
        GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        for (guint i = 0; i < g_list_model_get_n_items(files); ++i) {
            auto* file = G_FILE(g_list_model_get_item(files, i));
            if (char* path = g_file_get_path(file)) {
                paths.emplace_back(path);
                g_free(path);
            }
            g_object_unref(file);
        }
        g_object_unref(files);
    }
    gtk_native_dialog_hide(dialog);
    run->done(std::move(paths));
}

// GTK 4's save chooser always asks before it accepts an existing name, so a
// name that exists now is one the user agreed to replace.
void on_save_response(GtkNativeDialog* dialog, int response, gpointer data) {
    std::unique_ptr<SaveRun> run(static_cast<SaveRun*>(data));
    std::optional<SaveChoice> choice;
    if (response == GTK_RESPONSE_ACCEPT) {
        if (GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog))) {
            if (char* path = g_file_get_path(file)) {
                choice = SaveChoice{path, g_file_query_exists(file, nullptr) == TRUE};
                g_free(path);
            }
            g_object_unref(file);
        }
    }
    gtk_native_dialog_hide(dialog);
    run->done(std::move(choice));
}

}  // namespace

void show_open_chooser(GtkWindow* parent, const ChooserSpec& recipe,
                       std::function<void(std::vector<std::string>)> done) {
    const auto action = recipe.directories ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkFileChooserNative* native = gtk_file_chooser_native_new(recipe.title.c_str(), parent, action, nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), TRUE);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(native), recipe.multiple ? TRUE : FALSE);
    if (!recipe.extensions.empty()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, "Movies");
        for (const auto& extension : recipe.extensions) gtk_file_filter_add_suffix(filter, extension.c_str());
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(native), filter);
        g_object_unref(filter);
    }
    auto* run = std::make_unique<OpenRun>(native, std::move(done)).release();
    g_signal_connect(native, "response", G_CALLBACK(on_chooser_response), run);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
}

void show_save_chooser(GtkWindow* parent, const SaveSpec& recipe, std::function<void(std::optional<SaveChoice>)> done) {
    GtkFileChooserNative* native =
        gtk_file_chooser_native_new(recipe.title.c_str(), parent, GTK_FILE_CHOOSER_ACTION_SAVE, nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), TRUE);
    if (!recipe.folder.empty()) {
        GFile* folder = g_file_new_for_path(recipe.folder.c_str());
        // A folder that is gone leaves the chooser where it would open anyway.
        (void)gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(native), folder, nullptr);
        g_object_unref(folder);
    }
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(native), recipe.name.c_str());
    auto* run = std::make_unique<SaveRun>(native, std::move(done)).release();
    g_signal_connect(native, "response", G_CALLBACK(on_save_response), run);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
}

}  // namespace velmora
