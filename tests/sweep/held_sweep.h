// A sweep on a worker thread that is held at every visit's stop check, after the folder has been
// shown and counted and before anything of it is read: a test can look at the tree between two
// visits, or raise the stop event for exactly the visit it chooses.
//
// The hold is a gate in this program's import of WaitForSingleObject, which the sweep calls once
// per visit, for the stop check; it holds the worker's check alone and lets every other call by.
#pragma once

#include <string>
#include <vector>

#include "sweep_run.h"

class HeldSweep {
  public:
    enum State { Parked, Ended, TimedOut };

    // Starts the worker; it parks at the root's check. The record's display is switched on and
    // marked as already told, so the folder is left in the record and nothing is posted.
    explicit HeldSweep(Task &task);
    // Stops a worker that is still running and waits for its end.
    ~HeldSweep();

    // Waits until the worker is parked at its next check, or has ended.
    State waitParked();
    // Lets the parked worker make its check and go on.
    void letGo();
    // Raises the stop event for the parked worker's check, then waits for its end.
    bool stopHere(Outcome *outcome);
    // Lets the worker run to its end without holding it again; false on time-out.
    bool finish(Outcome *outcome, DWORD timeoutMs = 20000);

  private:
    Task &task_;
    HANDLE worker_;
};

// Every folder a whole sweep shows, in visit order.
std::vector<std::wstring> recordVisits(Task &task, Outcome *outcome);
