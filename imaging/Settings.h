// The options, the count of runs that did not end in order, and the removal of the image file
// types' shell registrations, all kept in the per-user registry.
#pragma once

#include <string>

// The two check marks of the Options menu that are saved.
struct TOptionMarks {
    bool IgnoreMedia = false;  // "No Media Warnings"
    bool Hints = true;         // "Hints on"
};

inline const std::string SettingsKey = "\\Software\\Wendlow Software\\Marrowtide";

// First-run initialisation when the settings key holds no Forced value, then LoadOptions.
// Marks holds the check marks as the window was created and receives the loaded ones.
// Registry errors (ERegistryException) reach the caller. Each function opens the settings key,
// creating it; when it cannot be opened, no key is open and the first read or write fails with
// the value's name ("Failed to get data for 'IgnoreMedia'").
void PrepareSettings(TOptionMarks& Marks);

// Reads the options into Marks and records that a run has started (ForcedClose := 1, counting
// in Forced a previous run that did not end in order).
void LoadOptions(TOptionMarks& Marks);

// Writes the options and records an orderly end (ForcedClose := 0).
void SaveOptions(const TOptionMarks& Marks);

// The "No Media Warnings" mark as last saved, for programs without the window; reads only.
bool SavedIgnoreMedia();

// Forced := 0.
void ResetForcedCount();

// Deletes the settings key and the eighteen file-type keys of .144, .120 and .720; failures
// to delete are ignored.
void RemoveRegistryEntries();
