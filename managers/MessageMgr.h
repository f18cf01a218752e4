// The messaging manager (id 10): sends a text message or an e-mail on request, and lists the
// phone's mail accounts. It has no status of its own.
//
// Callers: the schedule engine's SMS and e-mail actions, and the main window's test commands.
// The schedule engine's e-mail action passes its first text operand as `to`, the second as
// `subject`, the third as `body` and the "mail_provider" setting as `storeIndex`; its SMS action
// passes the first text operand as `number` and the third as `text`.
//
// Threads: SendSms, SendMail and ListMailProviders run on the caller's thread (the schedule
// engine's worker or the user-interface thread) and share no state; each send logs on to the
// phone's messaging anew and releases everything before it returns.
#pragma once

#include <string>
#include <vector>

#include "app/Mgr.h"

class CMessageMgr : public CMgr {
 public:
  // Setting: position, in the message-store table, of the account that sends mail.
  static constexpr const char* kMailProviderKey = "mail_provider";

  CMessageMgr();
  ~CMessageMgr() override;

  // The process's manager, or null.
  static CMessageMgr* GetInstance();

  // CMgr: no status to read or switch.
  void Initialize() override {}
  void RefreshStatusChild(int force) override {}
  void ForceStatusChild(int status, int minutes) override {}
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int command, int value) override {}

  // Sends `text` to `number` (at most 256 characters) as a class-1 text message. Writes the
  // event-log entry first. False when the text could not be handed to the SMS provider.
  bool SendSms(const std::string& number, const std::string& text);

  // Composes a message in the drafts folder of message store `storeIndex` (its position in the
  // store table) and submits it: `to` is a recipient list (see ParseRecipients), an empty
  // `subject` sets no subject. Writes the event-log entry first. False when any step failed
  // (traced); nothing is sent then.
  bool SendMail(const std::string& to, const std::string& subject, const std::string& body,
                int storeIndex);

  // Appends the display name of every message store, in table order: the position of a name
  // is the "mail_provider" value that selects it.
  void ListMailProviders(std::vector<std::string>* names);

  // Addresses separated by ";": spaces before an address are skipped, any other character
  // (spaces inside or after it included) belongs to it; an empty item is an empty address.
  static std::vector<std::string> ParseRecipients(const std::string& list);
};
