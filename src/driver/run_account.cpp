// The one account of the run, filled by the steps that act.
#include "driver/run_account.h"

RunAccount& runAccount() {
  static RunAccount account;
  return account;
}

void accountEarlyEnd(const std::string& reason) {
  RunAccount& account = runAccount();
  if (!account.completed) return;  // the first reason is the one that ended it
  account.completed = false;
  account.reason = reason;
}
