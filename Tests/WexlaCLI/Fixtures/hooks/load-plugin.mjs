// Loads a plugin as the agents do and fires both of its events once: node load-plugin.mjs PLUGIN
const plugin = await import(process.argv[2]);
for (const make of Object.values(plugin)) {
  const hooks = await make({});
  await hooks["chat.message"]({}, {});
  await hooks["tool.execute.before"]({}, {});
}
