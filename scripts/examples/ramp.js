// Ramps channel 0 of the module up in steps of 100 V, prints the measured voltage after each
// step, and switches the channel off at the end.
//
//   build/bin/tesmar-script --crate 127.0.0.1:16161 scripts/examples/ramp.js
//
// tesmar-script works in volts; in the script console values are in the module's display unit,
// which the console names when the run starts.
var channel = 0;
var stepVolts = 100;
var steps = 5;

mod.setChannelVoltageSet(channel, 0);
mod.setChannelOn(channel);
for (var step = 1; step <= steps; ++step) {
    var volts = step * stepVolts;
    mod.setChannelVoltageSet(channel, volts);
    // Long enough for the ramp: at 5 %/s of a 4000 V module a step takes half a second.
    script.delay(1000);
    script.print("step " + step + ": set " + volts + " V, measured " + mod.channelVoltageMeasure(channel).toFixed(1) + " V");
}
mod.setChannelOff(channel);
"ramped channel " + channel + " to " + steps * stepVolts + " V"
