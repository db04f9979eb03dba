// A small inventory report: objects, arrays, classes, Maps and Sets.
const config = { title: 'Inventory', limit: 3, currency: { code: 'EUR', symbol: '€' } };
const prices = [12.5, 3, 7.25];
const STATUS = { OPEN: 'open', CLOSED: 'closed' };

let total = 0;
const seen = new Set();
const stock = new Map();

function formatPrice(amount, symbol) {
  if (amount > 100) {
    return symbol + ' ' + amount.toFixed(0);
  }
  return symbol + ' ' + amount.toFixed(2);
}

function addItem(name, qty) {
  stock.set(name, qty);
  seen.add(name);
  total = total + qty;
  return stock.size;
}

class Shelf {
  static count = 0;
  #label = 'shelf';

  constructor(name) {
    this.name = name;
    this.items = [];
  }

  get size() {
    return 0;
  }

  put(item, qty = 1) {
    this.items.push(item);
    addItem(item, qty);
    return true;
  }
}

const shelf = new Shelf('A');
shelf.put('apples', 4);
shelf.put('pears');

const labels = prices.map(p => formatPrice(p, config.currency.symbol));
const cheap = prices.filter(p => p < 10);

console.log(config.title, labels.join(', '), cheap.length, total, STATUS.OPEN);
