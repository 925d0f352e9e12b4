// Waits for the machine to go quiet before a timed run. A browser just started spends a second
// or more of processor time on its own (its interface's renderer, among others), and on a
// machine of few cores that lands in whichever run comes first.
import os from 'node:os';

const busyAndTotal = () => os.cpus().reduce(([busy, total], {times}) => {
  const all = times.user + times.nice + times.sys + times.irq + times.idle;
  return [busy + all - times.idle, total + all];
}, [0, 0]);

// Resolves once a quarter second passes with the processors at most `busiest` busy, or after
// `longest` milliseconds; gives the share busy in the last quarter second.
export async function settle({busiest = 0.15, longest = 15000} = {}) {
  const end = Date.now() + longest;
  for (;;) {
    const [busy0, total0] = busyAndTotal();
    await new Promise((resolve) => setTimeout(resolve, 250));
    const [busy1, total1] = busyAndTotal();
    const share = (busy1 - busy0) / Math.max(1, total1 - total0);
    if (share <= busiest || Date.now() >= end) return share;
  }
}
