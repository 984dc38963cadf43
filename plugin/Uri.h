#pragma once

// Stored by presets and host sessions: never change it.
constexpr const char* kPluginUri = "https://plonkbrett.org/plugins/plonkbrett-streuwolke";
constexpr const char* kEditorUri = "https://plonkbrett.org/plugins/plonkbrett-streuwolke#ui";
