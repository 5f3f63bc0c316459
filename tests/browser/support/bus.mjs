// The emulated USB bus (web_usb_bus) as a child process under umockdev's preload library, asked one
// JSON request at a time.
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';

export class Bus {
  static async start(program) {
    const child = spawn(program, [], {
      env: { ...process.env, LD_PRELOAD: 'libumockdev-preload.so.0' },
      stdio: ['pipe', 'pipe', 'inherit'],
    });
    const bus = new Bus(child);
    const ready = await bus.#next();
    if (!ready.ready) throw new Error(`the bus did not start: ${JSON.stringify(ready)}`);
    return bus;
  }

  #child;
  #lines = [];
  #waiting = [];
  #ended = false;

  constructor(child) {
    this.#child = child;
    createInterface({ input: child.stdout }).on('line', (line) => {
      const answer = JSON.parse(line);
      const waiter = this.#waiting.shift();
      if (waiter) waiter.resolve(answer);
      else this.#lines.push(answer);
    });
    child.on('exit', (code, signal) => {
      this.#ended = true;
      for (const waiter of this.#waiting.splice(0)) waiter.reject(new Error(`the bus ended (${code ?? signal})`));
    });
  }

  #next() {
    if (this.#lines.length > 0) return Promise.resolve(this.#lines.shift());
    if (this.#ended) return Promise.reject(new Error('the bus has ended'));
    return new Promise((resolve, reject) => this.#waiting.push({ resolve, reject }));
  }

  // Sends `request` and gives its answer; a refused request throws with the bus's reason.
  async ask(request) {
    this.#child.stdin.write(`${JSON.stringify(request)}\n`);
    const answer = await this.#next();
    if (!answer.ok) throw new Error(`${request.op}: ${answer.error}`);
    return answer;
  }

  add(location, setup = {}) { return this.ask({ op: 'add', location, ...setup }); }
  remove(location) { return this.ask({ op: 'remove', location }); }
  replug(location) { return this.ask({ op: 'replug', location }); }
  // A device's trace, counts and flash (as hex).
  async device(location) {
    const answer = await this.ask({ op: 'device', location });
    return { ...answer, flash: Buffer.from(answer.flash).toString('hex') };
  }
  waitTransfers(location, transfers, timeoutMs = 20000) {
    return this.ask({ op: 'waitTransfers', location, transfers, timeoutMs });
  }

  // Ends the bus, and with it whatever it started.
  async end() {
    if (this.#ended) return;
    const exited = new Promise((resolve) => this.#child.once('exit', resolve));
    this.#child.stdin.end();
    await exited;
  }
}
