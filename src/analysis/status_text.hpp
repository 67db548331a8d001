#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vellico::analysis {

// One progress text of the analysis: a French localisation key with %1, %2
// placeholders, and the texts that fill them. The layer that shows it
// translates the key, then inserts the arguments.
struct StatusText {
    std::string key;
    std::vector<std::string> args;

    bool operator==(const StatusText&) const = default;

    // The key with its placeholders filled, untranslated.
    std::string formatted() const;
};

namespace status {
inline constexpr std::string_view totalSize = "Calcul de la taille totale\u2026";
inline constexpr std::string_view rootFolder = "Analyse de %1\u2026";
inline constexpr std::string_view eventFolder = "Analyse de %1 dans %2\u2026";
inline constexpr std::string_view searchingBackups = "Recherche des sauvegardes\u2026";
inline constexpr std::string_view measuringBackups = "Calcul des sauvegardes\u2026";
inline constexpr std::string_view spotlightBackups = "Recherche Spotlight des sauvegardes\u2026";
inline constexpr std::string_view searchingCache = "Recherche du cache externe\u2026";
inline constexpr std::string_view measuringCache = "Calcul de la taille du cache\u2026";
} // namespace status

// Receives progress texts. Called on the thread that runs the analysis; a GUI
// forwards them to its own thread. May be empty.
using ProgressSink = std::function<void(const StatusText&)>;

inline void publish(const ProgressSink& sink, std::string_view key,
                    std::vector<std::string> args = {})
{
    if (sink) {
        sink(StatusText{std::string(key), std::move(args)});
    }
}

} // namespace vellico::analysis
