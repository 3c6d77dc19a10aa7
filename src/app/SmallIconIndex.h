#pragma once

// Indexes (counted from 0) into the main window's image list of 72 small icons,
// for the pictures the folder tree and mail list use.
namespace tarvik::icon {
inline constexpr int Notesico = 0;
inline constexpr int Mail = 56;
inline constexpr int Drafts = 65;
inline constexpr int Trash = 66;
inline constexpr int Inbox = 67;
inline constexpr int Junk = 68;
inline constexpr int Outbox = 69;
inline constexpr int Email = 70;
inline constexpr int FollowUp = 71;
inline constexpr int Count = 72;
} // namespace tarvik::icon
